# The recording device (larkspur_audio).
