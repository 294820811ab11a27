#!/bin/sh
mkdir dir.qsm
