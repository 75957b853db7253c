"""CTavrin under threads and signals: the GIL is released while computing,
one call at a time per object, Ctrl-C stops a long search."""

import _thread
import copy
import threading

import pytest

import tavrin
from tavrin import CTavrin, PlanType

# Four factors keep the search in blocks. No verdict below depends on time:
# a search of this many points runs for hours unless something stops it.
ENDLESS = 4_000_000_000


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


def best_points(s):
    return [[s.modelGetDesignVarBestResult(f"x{i}", k) for i in range(4)] for k in range(1, 6)]


def test_a_search_releases_the_gil_refuses_other_threads_and_stops_on_ctrl_c():
    # A second thread runs during the main thread's search only if the GIL was
    # released: once the object is in use, every kind of call is refused, then
    # Ctrl-C ends the search (else it runs until the test's time limit).
    s = fitted_study()
    s.modelOptimize(0, 4096)
    before = best_points(s)
    refused = []

    def probe():
        try:
            while True:
                try:
                    s.planGetExperimentCount()
                except tavrin.StateError:
                    break
            for call in (lambda: s.planGetExperimentCount(), lambda: s.modelSetDesignVarValue("x0", 0.2),
                         lambda: copy.copy(s), lambda: s.Save("never-written.plan")):
                try:
                    call()
                    refused.append("accepted")
                except tavrin.StateError as error:
                    refused.append(isinstance(error, RuntimeError) and "in use by another thread" in str(error))
        finally:
            _thread.interrupt_main()

    worker = threading.Thread(target=probe)
    worker.start()
    with pytest.raises(KeyboardInterrupt):
        s.modelOptimize(0, ENDLESS)
    worker.join()
    assert refused == [True] * 4
    assert best_points(s) == before and s.modelIsOptimized() and s.planGetExperimentCount() == 15


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
