// The simulated host (filled in with the foundation work).
