#!/usr/bin/env bash
echo "not written yet"; exit 1
