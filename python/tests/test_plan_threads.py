"""CTavrin under threads and signals: the GIL is released while computing,
one call at a time per object, Ctrl-C stops a long search."""

import copy
import threading
import time

import pytest

import tavrin
from conftest import interrupt_main_after
from tavrin import CTavrin, PlanType

# Four factors keep the search in blocks. A long search lasts about a
# second on this machine, whatever its speed: the number of points is
# calibrated once on a short search.
_long_points = None


def fitted_study():
    s = CTavrin(PlanType.RechschafnerPlan)
    for i in range(4):
        s.planAddDesignVar(f"x{i}", 0.1 * i - 0.3, 0.1 * i + 0.7)
    s.planAddObjective("y")
    s.planCompute()
    rows = s.experiment_table("y")
    s.set_objective_values("y", [sum((k + 1) * v - v * v for k, v in enumerate(r)) + 1e3 for r in rows])
    s.modelCompute()
    for i in range(4):
        s.modelSetDesignVarLimits(f"x{i}", 0.1 * i - 0.3, 0.1 * i + 0.7)
    s.modelSetObjectiveLimits("y", 1.0, 0.0, 0.0)
    return s


def long_search_points():
    global _long_points
    if _long_points is None:
        s, probe = fitted_study(), 2_000_000
        start = time.perf_counter()
        s.modelOptimize(0, probe)
        per_point = (time.perf_counter() - start) / probe
        _long_points = int(min(4_000_000_000, max(probe, 1.0 / per_point)))
    return _long_points


def best_points(s):
    return [[s.modelGetDesignVarBestResult(f"x{i}", k) for i in range(4)] for k in range(1, 6)]


def heartbeat_gaps(s):
    done = threading.Event()
    worker = threading.Thread(target=lambda: (s.modelOptimize(0, long_search_points()), done.set()))
    ticks = [time.perf_counter()]
    worker.start()
    while not done.is_set():
        time.sleep(0.01)
        ticks.append(time.perf_counter())
    worker.join()
    return [b - a for a, b in zip(ticks, ticks[1:])]


def test_heartbeat_keeps_ticking_during_a_long_search():
    # A held GIL stalls the heartbeat for the whole search (about a second)
    # every time; a busy machine can delay one tick now and then. So the
    # best of three searches must keep every gap within 50 ms.
    s = fitted_study()
    worst = []
    for _ in range(3):
        gaps = heartbeat_gaps(s)
        assert len(gaps) > 20, "the search ended too soon to measure anything"
        worst.append(max(gaps))
        if worst[-1] <= 0.050:
            break
    assert min(worst) <= 0.050, f"heartbeat stalled for {[round(w * 1e3, 1) for w in worst]} ms"


def test_second_thread_is_refused_while_the_object_computes():
    s = fitted_study()
    worker = threading.Thread(target=s.modelOptimize, args=(0, long_search_points()))
    worker.start()
    time.sleep(0.05)
    refused = []
    for call in (lambda: s.planGetExperimentCount(), lambda: s.modelSetDesignVarValue("x0", 0.2),
                 lambda: copy.copy(s), lambda: s.Save("never-written.plan")):
        with pytest.raises(tavrin.StateError, match="in use by another thread") as info:
            call()
        refused.append(isinstance(info.value, RuntimeError))
    worker.join()
    assert refused == [True] * 4
    assert s.modelIsOptimized() and s.planGetExperimentCount() == 15


def test_ctrl_c_stops_a_long_search_quickly_and_changes_nothing():
    s = fitted_study()
    s.modelOptimize(0, 4096)
    before = best_points(s)
    sent = interrupt_main_after(0.3)
    start = time.perf_counter()
    with pytest.raises(KeyboardInterrupt):
        s.modelOptimize(0, min(4_000_000_000, long_search_points() * 100))
    stopped = time.perf_counter()
    assert stopped - start < 5, "the search was not interrupted"
    assert stopped - sent[0] <= 0.100, f"stopped {(stopped - sent[0]) * 1e3:.1f} ms after Ctrl-C"
    assert best_points(s) == before and s.modelIsOptimized()


def test_search_results_do_not_depend_on_the_interrupt_hook():
    # On the main thread the hook is installed, on another it is not:
    # both searches must give the same bits.
    main, other = fitted_study(), fitted_study()
    main.modelOptimize(0, 200_003)
    worker = threading.Thread(target=other.modelOptimize, args=(0, 200_003))
    worker.start()
    worker.join()
    assert best_points(main) == best_points(other)
    assert [main.modelGetObjectiveBestResult("y", k) for k in range(1, 6)] == [
        other.modelGetObjectiveBestResult("y", k) for k in range(1, 6)]
