// Stands in for a library whose sources do not exist yet.
