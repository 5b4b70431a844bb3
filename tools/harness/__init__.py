"""What the end-to-end tests, the demo, the pictures, the soak run and the
benchmarks share: the player driver (`player`), the service stand-in's control
(`service`), the host folder with the plugin running in it (`host`), winamp.ini
(`ini`), ID3 tags and silent audio (`id3`), the settings window's control ids
(`controls`) and the Wine session (`session`).

The package is found through PYTHONPATH=<repo>/tools, which ctest and the tools/*.sh
wrappers set (tests/README.md). Python 3 standard library only.
"""
