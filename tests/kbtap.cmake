# Tests of kbtap/.
