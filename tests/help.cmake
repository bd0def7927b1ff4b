# Tests of help/.
