#!/bin/sh
ln -s loop.qsm out.qsm
ln -s out.qsm loop.qsm
