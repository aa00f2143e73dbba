socket /run/pavane/transfer
