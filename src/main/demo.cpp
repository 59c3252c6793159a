// quenvar-sim: the service on a simulated machine.
int main() { return 0; }
