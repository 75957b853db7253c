// The simulated process of the example study, unknown to the experimenter:
// Yield and Impurity over Temperature (150..210 °C) and Time (10..50 min),
// with a fixed pseudo-random measurement noise so every run is the same.

export function trueYield(temp, time) {
  const dT = temp - 192.0;
  const dt = time - 38.0;
  return 88.0 - 0.012 * dT * dT - 0.015 * dt * dt - 0.0008 * dT * dt;
}

export function trueImpurity(temp, time) {
  const dT = temp - 150.0;
  const dt = time - 10.0;
  return 0.4 + 0.0004 * dT * dT + 0.012 * dt + 0.00015 * dT * dt;
}

// A linear congruential sequence in [-1, 1].
export function noiseSource(seed = 12345) {
  let state = seed >>> 0;
  return () => {
    state = (Math.imul(state, 1664525) + 1013904223) >>> 0;
    return (state >>> 8) / 2 ** 23 - 1;
  };
}

// Results CSV for runs [{run, settings}] (a run id column, one per response).
export function resultsCsv(runs, measure) {
  const lines = ['run_id,Yield,Impurity'];
  for (const r of runs) {
    const [y, i] = measure(r.settings);
    lines.push(`${r.run},${y},${i}`);
  }
  return lines.join('\n') + '\n';
}
