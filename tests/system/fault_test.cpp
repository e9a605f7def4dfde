// Faults injected on the board: each failure path gives its log line and the launcher keeps working.
