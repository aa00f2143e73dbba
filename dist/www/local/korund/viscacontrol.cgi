socket /run/korund/transfer
