extern "C" int ProbeAnswer() {
    return 42;
}
