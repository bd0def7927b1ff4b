# Tests of config/.
