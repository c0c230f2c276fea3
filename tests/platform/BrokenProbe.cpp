// A library that cannot be loaded with every symbol bound: it needs a function nothing
// defines. Built as libLoaderProbe.so in a folder of its own, to stand before the good one.
extern "C" int ZandrelProbeNoSuchFunction();

extern "C" int ProbeAnswer() {
    return ZandrelProbeNoSuchFunction();
}
