"""Closed-loop figures of the tracker in camsim (tools/track-report)."""
