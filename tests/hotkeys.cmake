# Tests of hotkeys/.
