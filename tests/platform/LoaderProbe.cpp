// A small library for the loader tests. The copy beside the test programs answers
// differently, so that a test can tell which one was loaded.
#ifndef PROBE_ANSWER
#define PROBE_ANSWER 42
#endif

extern "C" int ProbeAnswer() {
    return PROBE_ANSWER;
}
