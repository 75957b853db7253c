"""Runs the C++ driver (TAVRIN_ANALYSIS_TOOL) on a JSON request; NaN comes back as null."""
import json
import math
import os
import subprocess

import pytest

TOOL = os.environ.get("TAVRIN_ANALYSIS_TOOL")
MARKS = [
    pytest.mark.skipif(not TOOL, reason="TAVRIN_ANALYSIS_TOOL is not set"),
    # statsmodels divides by 1 - h for runs of leverage 1 and warns.
    pytest.mark.filterwarnings("ignore::RuntimeWarning"),
]


def run_tool(request):
    done = subprocess.run([TOOL], input=json.dumps(request), capture_output=True, text=True, check=True)
    return json.loads(done.stdout)


def nan(x):
    return math.nan if x is None else x
