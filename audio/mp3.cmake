# The WAV to MP3 converter (larkspur_mp3).
