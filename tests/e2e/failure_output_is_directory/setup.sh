#!/bin/sh
mkdir outdir
