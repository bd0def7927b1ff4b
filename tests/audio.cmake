# Tests of audio/.
