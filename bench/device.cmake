# Recording-device benchmark.
