"""Every number of the text is its --json field printed with 6 significant
digits (3 for p values, more for settings close together), row by row."""
import json
import re

import pytest

from conftest import run

NUMBER = re.compile(r"(?<![\w.])-?(?:\d+\.?\d*|\.\d+)(?:e[+-]\d+)?%?(?![\w.])")


def g6(value):
    return "n/a" if value is None else "%.6g" % value


def g3(value):
    return "n/a" if value is None else "%.3g" % value


def cells(line):
    return re.split(r"\s{2,}", line.strip())


def table(text, heading):
    """The rows under the first line that starts with `heading` (after the
    indent), up to the next blank line."""
    lines = text.splitlines()
    start = next(k for k, line in enumerate(lines) if line.strip().startswith(heading))
    rows = []
    for line in lines[start + 1:]:
        if not line.strip():
            break
        rows.append(cells(line))
    return rows


def both(work, *args):
    text = run(*args, cwd=work, check=0).stdout
    data = json.loads(run(*args, "--json", cwd=work, check=0).stdout)
    return text, data


def leaves(value):
    """Every number and text in a JSON value (booleans left out)."""
    if isinstance(value, dict):
        return [leaf for v in value.values() for leaf in leaves(v)]
    if isinstance(value, list):
        return [leaf for v in value for leaf in leaves(v)]
    return [] if isinstance(value, bool) or value is None else [value]


def assert_every_table_number_is_in_json(text, data):
    numbers = [n for n in leaves(data) if not isinstance(n, str)]
    # Sentences the JSON carries as text (verdicts, meanings) are not numbers to match.
    sentences = sorted((t for t in leaves(data) if isinstance(t, str) and " " in t), key=len, reverse=True)
    # Settings and responses may show more digits; levels show as
    # percentages: 0.95 as "95%", percentiles as "5%".
    shown = {"%.*g" % (d, n) for n in numbers for d in range(3, 18)} | {g6(100 * n) + "%" for n in numbers} | \
        {g6(n) + "%" for n in numbers}
    for line in text.splitlines():
        if not line.startswith("  "):
            continue
        for sentence in sentences:
            line = line.replace(sentence, "")
        for token in NUMBER.findall(line):
            assert token in shown, (token, line)


@pytest.fixture(scope="module")
def work(study):
    return study[0]


def test_fit_text_and_json_agree(work):
    text, data = both(work, "fit", "study.json", "--runs")
    assert_every_table_number_is_in_json(text, data)
    for report in data["responses"]:
        part = text[text.index(report["response"] + ":"):]
        statistics = {row[0]: row[1] for row in table(part, "Statistic")}
        assert f"Verdict: {report['verdict']['text']}" in part
        assert statistics["R-squared"] == g6(report["rSquared"])
        assert statistics["Predicted R-squared"] == g6(report["predictedRSquared"])
        assert statistics["p of F"] == g3(report["fPValue"])
        for units in ("coded", "natural"):
            rows = table(part, f"Coefficients, {units} units")[1:]
            assert [r[0] for r in rows] == [c["term"] for c in report["coefficients"]]
            for row, c in zip(rows, report["coefficients"]):
                e = c[units]
                assert row[1:] == [g6(e["value"]), g6(e["stdError"]), g6(e["t"]), g3(e["p"]), g6(e["lower"]),
                                   g6(e["upper"])]
        stationary = report["canonical"]["stationaryNatural"]
        assert f"Temperature = {g6(stationary['Temperature'])}, Time = {g6(stationary['Time'])}" in part


def test_optimize_text_and_json_agree(work):
    text, data = both(work, "optimize", "study.json", "--maximize", "Yield=60:90", "--minimize", "Impurity",
                      "--within", "Impurity<=2", "--robust", "--replicates", 50, "--points", 2048)
    assert_every_table_number_is_in_json(text, data)
    rows = table(text, "Rank")
    assert len(rows) == len(data["optimum"]["candidates"]) >= 1
    for row, c in zip(rows, data["optimum"]["candidates"]):
        expected = [str(c["rank"]), g6(c["settings"]["Temperature"]), g6(c["settings"]["Time"]),
                    g6(c["predictions"]["Yield"]["value"]), g6(c["predictions"]["Impurity"]["value"]),
                    g6(c["overall"])]
        assert row[:6] == expected


def test_predict_text_and_json_agree(work):
    text, data = both(work, "predict", "study.json", "--at", "Temperature=171.3,Time=44.7", "--at",
                      "Temperature=199.9,Time=12.1")
    assert_every_table_number_is_in_json(text, data)
    rows = table(text, "Point")
    assert len(rows) == 4
    for k, point in enumerate(data["points"]):
        for j, response in enumerate(["Yield", "Impurity"]):
            row = rows[2 * k + j]
            p = point["predictions"][response]
            assert row[-7:] == [response, g6(p["value"]), g6(p["stdError"]), g6(p["confidenceLow"]),
                                g6(p["confidenceHigh"]), g6(p["predictionLow"]), g6(p["predictionHigh"])]


def test_settings_close_together_print_apart(cli, tmp_path):
    args = ["new", "s.json", "--factor", "Feed=0.1:0.7", "--factor", "Offset=1e7:1.0000001e7", "--response", "Y",
            "--seed", 4]
    text = run(*args, cwd=tmp_path, check=0).stdout
    data = json.loads(run("sheet", "s.json", "--json", cwd=tmp_path, check=0).stdout)
    assert_every_table_number_is_in_json(text, data)
    assert {row[3] for row in table(text, "Order")} == {"10000000", "10000000.5", "10000001"}
