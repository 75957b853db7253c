// A client of the installed study layer: plan, enter exact quadratic
// results, fit, and predict between the runs.
#include <cmath>
#include <cstdio>

#include <tavrin/study.h>

int main() {
  using namespace tavrin;
  try {
    Study study(DesignKind::BoxBehnken, {{"Speed", 0.1, 0.7, ""}, {"Feed", 100, 200, "mm/min"}}, {{"Yield", "%"}},
                {.seed = 3});
    const auto surface = [](double speed, double feed) { return 50 + 3 * speed - 0.01 * feed + speed * speed; };
    const Plan& plan = study.plan();
    for (std::size_t r = 0; r < plan.runCount(); ++r)
      study.setResult(static_cast<int>(r + 1), "Yield", surface(plan.natural(r, 0), plan.natural(r, 1)));
    const Matrix at = predict(study.fit(), Matrix{{0.33, 123.0}});
    if (std::fabs(at(0, 0) - surface(0.33, 123.0)) > 1e-9) {
      std::printf("prediction %.17g, expected %.17g\n", at(0, 0), surface(0.33, 123.0));
      return 1;
    }
    study.setResult(1, "Yield", NAN);
    study.fit();
    std::printf("a fit with a missing result was not refused\n");
    return 1;
  } catch (const StateError& e) {
    std::printf("refused as expected: %s\n", e.what());
    return 0;
  }
}
