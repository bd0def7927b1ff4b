# Tests of the MP3 converter.
