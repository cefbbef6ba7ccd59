#!/usr/bin/env python3
"""Placeholder replaced by the fatal-path tests."""
print("0 passed, 0 failed")
