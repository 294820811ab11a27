#!/bin/sh
# A directory where the output file should be: it cannot be opened for writing.
mkdir outdir
