# MP3 conversion benchmark.
