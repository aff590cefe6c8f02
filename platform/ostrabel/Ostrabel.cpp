// The iris-blur library (filled in with the per-thread state work).
