#include "report.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <string_view>
#include <vector>

#include "json_io.h"
#include "plot_json.h"
#include "tavrin/analysis.h"
#include "tavrin/design_evaluation.h"
#include "tavrin/error.h"
#include "tavrin/quadratic.h"
#include "tavrin/verdict.h"
#include "tavrin/views.h"

namespace tavrin::report {

// Plotly's minified script, built in by plotly_script.cpp (empty without it).
std::string_view plotlyScript() noexcept;

namespace {

using json::Json;

// The Okabe-Ito palette, distinguishable with every common colour-vision deficiency.
constexpr std::array<const char*, 8> kPalette = {"#0072B2", "#E69F00", "#009E73", "#CC79A7",
                                                 "#56B4E9", "#D55E00", "#F0E442", "#000000"};

std::string escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

// Plotly's script inside <script>: "</" would end the element early, so it
// is written "<\/" (Plotly's code has no "<!--" or "<script" either).
std::string scriptSafe(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t k = 0; k < text.size(); ++k) {
    out += text[k];
    if (text[k] == '<' && k + 1 < text.size() && text[k + 1] == '/') out += '\\';
  }
  return out;
}

// JSON inside <script>: every '<' (only ever inside a string) as \u003c, so
// no name can end the element or open a comment in it.
std::string jsonSafe(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == '<')
      out += "\\u003c";
    else
      out += c;
  }
  return out;
}

std::string shown(double value, int digits = 6) {
  if (std::isnan(value)) return "n/a";
  std::array<char, 40> buffer{};
  std::snprintf(buffer.data(), buffer.size(), "%.*g", digits, value);
  return buffer.data();
}

std::string label(const std::string& name, const std::string& unit) {
  return unit.empty() ? name : name + " [" + unit + "]";
}
std::string label(const Factor& f) { return label(f.name, f.unit); }
std::string label(const Response& r) { return label(r.name, r.unit); }

// ------------------------------------------------------------------ tables

struct Table {
  std::string caption;
  std::vector<std::string> headings;
  std::vector<std::vector<std::string>> rows;  // cells already escaped

  std::string html() const {
    std::string out = "<div class=\"scroll\"><table><caption>" + escaped(caption) + "</caption><thead><tr>";
    for (const std::string& h : headings) out += "<th scope=\"col\">" + escaped(h) + "</th>";
    out += "</tr></thead><tbody>";
    for (const auto& row : rows) {
      out += "<tr>";
      for (std::size_t k = 0; k < row.size(); ++k) out += (k == 0 ? "<th scope=\"row\">" : "<td>") + row[k] + (k == 0 ? "</th>" : "</td>");
      out += "</tr>";
    }
    return out + "</tbody></table></div>";
  }
};

std::string meaningCell(std::string_view key) { return escaped(meaningOf(key).text); }

std::string verdictHtml(const Verdict& v) {
  std::string out = std::string("<div class=\"verdict ") + (v.warning ? "warning" : "sound") + "\" role=\"note\"><strong>" +
                    (v.warning ? "Warning" : "Verdict") + ":</strong><ul>";
  for (const std::string& f : v.findings) out += "<li>" + escaped(f) + "</li>";
  return out + "</ul></div>";
}

std::string notice(const std::string& text) { return "<p class=\"notice\">" + escaped(text) + "</p>"; }

// ----------------------------------------------------------------- figures

struct Figures {
  Json list = Json::array();
  // The figure's place in the page; Plotly draws it from the data when the page opens.
  std::string add(const std::string& id, const std::string& title, const std::string& description, Json traces,
                  const std::string& xTitle, const std::string& yTitle) {
    Json layout = {{"title", {{"text", title}}},
                   {"colorway", kPalette},
                   {"font", {{"family", "system-ui, sans-serif"}, {"size", 13}}},
                   {"margin", {{"l", 70}, {"r", 30}, {"t", 50}, {"b", 60}}},
                   {"xaxis", {{"title", {{"text", xTitle}}}, {"automargin", true}}},
                   {"yaxis", {{"title", {{"text", yTitle}}}, {"automargin", true}}},
                   {"legend", {{"orientation", "h"}, {"y", -0.25}}}};
    list.push_back({{"id", id}, {"description", description}, {"data", std::move(traces)}, {"layout", std::move(layout)}});
    return "<figure><div id=\"" + id + "\" class=\"plot\" role=\"img\" aria-label=\"" + escaped(description) +
           "\"></div><figcaption>" + escaped(description) + "</figcaption></figure>";
  }
};

std::vector<double> column(const Matrix& m, std::size_t c) {
  std::vector<double> out(m.rows());
  for (std::size_t r = 0; r < m.rows(); ++r) out[r] = m(r, c);
  return out;
}

Json numbers(const std::vector<double>& values) {
  Json out = Json::array();
  for (const double v : values) out.push_back(json::number(v));
  return out;
}

Json rows(const Matrix& m) {
  Json out = Json::array();
  for (std::size_t i = 0; i < m.rows(); ++i) {
    Json row = Json::array();
    for (std::size_t j = 0; j < m.cols(); ++j) row.push_back(json::number(m(i, j)));
    out.push_back(std::move(row));
  }
  return out;
}

std::string heldText(const Fit& fit, const std::vector<double>& held, std::size_t x, std::size_t y) {
  std::string text;
  for (std::size_t f = 0; f < fit.factorCount(); ++f) {
    if (f == x || f == y) continue;
    text += (text.empty() ? "; " : ", ") + fit.factors[f].name + " at " + shown(held[f]) +
            (fit.factors[f].unit.empty() ? "" : " " + fit.factors[f].unit);
  }
  return text;
}

Json runMarkers(const views::DesignPoints& runs) {
  Json labels = Json::array();
  for (const int id : runs.runIds) labels.push_back("run " + std::to_string(id));
  return {{"type", "scatter"}, {"mode", "markers"}, {"name", "runs"}, {"x", numbers(runs.x)}, {"y", numbers(runs.y)},
          {"text", std::move(labels)},
          {"marker", {{"color", "#ffffff"}, {"size", 9}, {"symbol", "circle-open"}, {"line", {{"width", 2}}}}}};
}

// The response over the first two factors, the others at the centre of the runs' span.
std::string surfaceFigure(Figures& figures, const Fit& fit, std::size_t r) {
  const std::string id = "surface-" + std::to_string(r + 1);
  const Response& response = fit.responses[r];
  if (fit.factorCount() < 2) return "";
  const views::Slice s = views::slice(fit, r, 0, 1, views::centreSetting(fit));
  Json traces = Json::array(
      {{{"type", "contour"}, {"name", label(response)}, {"x", numbers(s.grid.x)}, {"y", numbers(s.grid.y)},
        {"z", rows(s.value)}, {"colorscale", "Viridis"}, {"contours", {{"showlabels", true}}},
        {"colorbar", {{"title", {{"text", label(response)}}}}}},
       runMarkers(s.runs)});
  return figures.add(id, response.name + " over " + fit.factors[0].name + " and " + fit.factors[1].name,
                     "Contours of the fitted " + response.name + " over " + fit.factors[0].name + " and " +
                         fit.factors[1].name + heldText(fit, s.grid.held, 0, 1) + ", with the runs' settings marked",
                     std::move(traces), label(fit.factors[0]), label(fit.factors[1]));
}

// Normal probability, against fitted values and in run order; outliers labelled with their run id.
std::string residualFigures(Figures& figures, const Study& study, const Response& response, std::size_t r) {
  views::Residuals res;
  try {
    res = views::residuals(study, response.name);
  } catch (const StateError& error) {
    return notice(std::string("No residual plots: ") + error.what());
  }
  std::vector<double> residual, fitted, order, score;
  Json labels = Json::array();
  Json symbols = Json::array();
  for (const views::ResidualPoint& p : res.runs) {
    residual.push_back(p.residual);
    fitted.push_back(p.fitted);
    order.push_back(p.order);
    score.push_back(p.normalScore);
    labels.push_back(p.outlier ? "run " + std::to_string(p.runId) + " (outlier)" : "run " + std::to_string(p.runId));
    symbols.push_back(p.outlier ? "x" : "circle");
  }
  const std::string unit = response.unit.empty() ? "" : " [" + response.unit + "]";
  const auto traces = [&](const std::vector<double>& x, const std::vector<double>& y) {
    return Json::array({{{"type", "scatter"}, {"mode", "markers"}, {"name", "runs"}, {"x", numbers(x)},
                         {"y", numbers(y)}, {"text", labels}, {"marker", {{"size", 8}, {"symbol", symbols}}}}});
  };
  const std::string n = std::to_string(r + 1);
  std::string html = figures.add("normal-" + n, "Normal probability of the residuals",
                                 "Residuals of " + response.name + " against their normal scores; a straight line "
                                 "means normal noise, outliers are crosses labelled with their run",
                                 traces(score, residual), "Normal score", "Residual" + unit);
  html += figures.add("fitted-" + n, "Residuals against fitted values",
                     "Residuals of " + response.name + " against its fitted values; each point is a run",
                     traces(fitted, residual), "Fitted " + response.name + unit, "Residual" + unit);
  return html + figures.add("order-" + n, "Residuals in run order",
                            "Residuals of " + response.name + " in the order the runs were made, to show drift",
                            traces(order, residual), "Run order", "Residual" + unit);
}

// ------------------------------------------ figures from `tavrin plot` data

// The view's plot data exactly as `tavrin plot --kind K --json` gives it,
// drawn by `draw`; a view that cannot be drawn says why in its place.
template <class Draw>
std::string viewFigure(const Study& study, const std::string& kind, const std::string& response, const char* what,
                       Draw draw) {
  json::PlotRequest request;
  request.kind = kind;
  request.response = response;
  Json data;
  try {
    data = json::plotJson(study, request);
  } catch (const Error& error) {
    return notice(std::string("No ") + what + ": " + error.what());
  }
  return draw(data);
}

std::string axisLabel(const Json& axis) {
  return label(axis["name"].get<std::string>(), axis["unit"].get<std::string>());
}

// ", T at 180 °C" for the factors a two-factor view holds; units from the study.
std::string heldOf(const Study& study, const Json& data) {
  std::string text;
  for (const Factor& f : study.factors()) {
    if (f.name == data["x"]["name"] || f.name == data["y"]["name"]) continue;
    text += (text.empty() ? "; " : ", ") + f.name + " at " + shown(data["held"][f.name].get<double>()) +
            (f.unit.empty() ? "" : " " + f.unit);
  }
  return text;
}

// The fitted response as a 3-D surface over the first two factors, with the runs' results as points.
std::string surface3dFigure(Figures& figures, const Study& study, const Response& response, std::size_t r) {
  if (study.factors().size() < 2) return "";
  return viewFigure(study, "surface", response.name, "3-D surface", [&](const Json& d) {
    Json x = Json::array(), y = Json::array(), z = Json::array(), text = Json::array();
    for (const Json& run : d["runs"]) {
      x.push_back(run["x"]);
      y.push_back(run["y"]);
      z.push_back(run["observed"]);
      text.push_back("run " + std::to_string(run["runId"].get<int>()));
    }
    Json traces = Json::array(
        {{{"type", "surface"}, {"name", "fitted " + response.name}, {"x", d["x"]["values"]}, {"y", d["y"]["values"]},
          {"z", d["z"]}, {"colorscale", "Viridis"}, {"opacity", 0.9},
          {"colorbar", {{"title", {{"text", label(response)}}}}}},
         {{"type", "scatter3d"}, {"mode", "markers"}, {"name", "runs"}, {"x", x}, {"y", y}, {"z", z}, {"text", text},
          {"marker", {{"size", 4}, {"color", kPalette[5]}}}}});
    std::string html = figures.add("surface3d-" + std::to_string(r + 1), response.name + " as a surface",
                                   "The fitted " + response.name + " over " + d["x"]["name"].get<std::string>() +
                                       " and " + d["y"]["name"].get<std::string>() + heldOf(study, d) +
                                       ", with each run's result as a point",
                                   std::move(traces), "", "");
    figures.list.back()["layout"]["scene"] = {{"xaxis", {{"title", {{"text", axisLabel(d["x"])}}}}},
                                              {"yaxis", {{"title", {{"text", axisLabel(d["y"])}}}}},
                                              {"zaxis", {{"title", {{"text", label(response)}}}}}};
    return html;
  });
}

// The response along the first factor with the second at the low and the high end of its span.
std::string interactionFigure(Figures& figures, const Study& study, const Response& response, std::size_t r) {
  if (study.factors().size() < 2) return "";
  return viewFigure(study, "interaction", response.name, "interaction plot", [&](const Json& d) {
    const Json& by = d["by"];
    const std::string unit = by["unit"].get<std::string>();
    const auto at = [&](const char* end) {
      return by["name"].get<std::string>() + " = " + shown(by[end].get<double>()) + (unit.empty() ? "" : " " + unit);
    };
    Json traces = Json::array(
        {{{"type", "scatter"}, {"mode", "lines"}, {"name", at("low")}, {"x", d["x"]}, {"y", d["atLow"]},
          {"line", {{"color", kPalette[0]}, {"width", 2}}}},
         {{"type", "scatter"}, {"mode", "lines"}, {"name", at("high")}, {"x", d["x"]}, {"y", d["atHigh"]},
          {"line", {{"color", kPalette[1]}, {"width", 2}, {"dash", "dash"}}}}});
    const std::string factor = d["factor"]["name"].get<std::string>();
    return figures.add("interaction-" + std::to_string(r + 1), "Interaction of " + factor + " and " +
                           by["name"].get<std::string>(),
                       "The fitted " + response.name + " along " + factor + " with " + by["name"].get<std::string>() +
                           " at the low and at the high end of its runs; lines that are not parallel interact",
                       std::move(traces), axisLabel(d["factor"]), "Fitted " + label(response));
  });
}

// The Box-Cox profile: the log-likelihood over lambda, its 95 % cut and
// interval, the maximum and the recommended power.
std::string boxCoxFigure(Figures& figures, const Study& study, const Response& response, std::size_t r) {
  return viewFigure(study, "boxcox", response.name, "Box-Cox profile", [&](const Json& d) {
    const Json& lambda = d["lambda"];
    Json traces = Json::array(
        {{{"type", "scatter"}, {"mode", "lines"}, {"name", "profile log-likelihood"}, {"x", lambda},
          {"y", d["logLikelihood"]}, {"line", {{"color", kPalette[0]}, {"width", 2}}}},
         {{"type", "scatter"}, {"mode", "lines"}, {"name", "95 % interval"}, {"x", Json::array({d["lower"], d["upper"]})},
          {"y", Json::array({d["cut"], d["cut"]})}, {"line", {{"color", kPalette[7]}, {"width", 3}, {"dash", "dot"}}}},
         {{"type", "scatter"}, {"mode", "markers"}, {"name", "λ = " + shown(d["best"].get<double>(), 3)},
          {"x", Json::array({d["best"]})}, {"y", Json::array({d["bestLogLikelihood"]})},
          {"marker", {{"color", kPalette[5]}, {"size", 10}}}}});
    std::string html = figures.add(
        "boxcox-" + std::to_string(r + 1), "Box-Cox profile of " + response.name,
        "The log-likelihood of the power λ of " + response.name + " under its model; λ = " +
            shown(d["best"].get<double>(), 3) + ", 95 % interval " + shown(d["lower"].get<double>(), 3) + " .. " +
            shown(d["upper"].get<double>(), 3) + "; recommended transform: " +
            d["recommendation"].get<std::string>() + " (the green line)",
        std::move(traces), "Box-Cox power λ", "Log-likelihood (up to a constant)");
    figures.list.back()["layout"]["shapes"] = Json::array(
        {{{"type", "line"}, {"xref", "x"}, {"yref", "paper"}, {"x0", d["recommended"]}, {"x1", d["recommended"]},
          {"y0", 0}, {"y1", 1}, {"line", {{"color", kPalette[2]}, {"width", 2}}}}});
    return html;
  });
}

std::string axisName(const char* axis, std::size_t n) { return std::string(axis) + (n == 1 ? "" : std::to_string(n)); }

// One panel per factor and response at the setting, with the confidence
// band, and the overall desirability along each factor when goals exist.
std::string profilerFigure(Figures& figures, const Fit& fit, const std::vector<double>& setting, const Goals& goals,
                           const std::string& where) {
  const views::Profiler p = views::profiler(fit, setting, goals);
  const std::size_t columns = p.factors.size();
  const std::size_t panelRows = p.responses.size() + (p.desirability.empty() ? 0 : 1);
  Json traces = Json::array();
  Json axes = Json::object();
  const auto panel = [&](std::size_t row, std::size_t col, const std::string& yTitle) {
    const std::size_t n = row * columns + col + 1;
    axes[axisName("xaxis", n)] = {{"title", {{"text", row + 1 == panelRows ? label(p.factors[col], p.units[col]) : ""}}}};
    axes[axisName("yaxis", n)] = {{"title", {{"text", col == 0 ? yTitle : ""}}}};
    return std::pair{axisName("x", n), axisName("y", n)};
  };
  for (const views::ProfilerTrace& t : p.traces) {
    const auto [x, y] = panel(t.response, t.factor, label(p.responses[t.response], p.responseUnits[t.response]));
    const bool first = t.factor == 0 && t.response == 0;
    traces.push_back({{"type", "scatter"}, {"mode", "lines"}, {"x", numbers(t.x)}, {"y", numbers(t.upper)},
                      {"xaxis", x}, {"yaxis", y}, {"line", {{"width", 0}}}, {"showlegend", false}, {"hoverinfo", "skip"}});
    traces.push_back({{"type", "scatter"}, {"mode", "lines"}, {"x", numbers(t.x)}, {"y", numbers(t.lower)},
                      {"xaxis", x}, {"yaxis", y}, {"line", {{"width", 0}}}, {"fill", "tonexty"},
                      {"fillcolor", "rgba(0,114,178,0.2)"}, {"name", shown(100 * p.confidence) + " % confidence"},
                      {"showlegend", first}, {"legendgroup", "band"}});
    traces.push_back({{"type", "scatter"}, {"mode", "lines"}, {"x", numbers(t.x)}, {"y", numbers(t.value)},
                      {"xaxis", x}, {"yaxis", y}, {"line", {{"color", kPalette[0]}}}, {"name", "prediction"},
                      {"showlegend", first}, {"legendgroup", "value"}});
    traces.push_back({{"type", "scatter"}, {"mode", "markers"}, {"x", Json::array({json::number(p.setting[t.factor])})},
                      {"y", Json::array({json::number(p.atSetting[t.response].value)})}, {"xaxis", x}, {"yaxis", y},
                      {"marker", {{"color", kPalette[5]}, {"size", 9}}}, {"name", where}, {"showlegend", first},
                      {"legendgroup", "setting"}});
  }
  for (const views::DesirabilityTrace& d : p.desirability) {
    const auto [x, y] = panel(panelRows - 1, d.factor, "Desirability");
    traces.push_back({{"type", "scatter"}, {"mode", "lines"}, {"x", numbers(d.x)}, {"y", numbers(d.overall)},
                      {"xaxis", x}, {"yaxis", y}, {"line", {{"color", kPalette[2]}}}, {"name", "overall desirability"},
                      {"showlegend", d.factor == 0}});
  }
  std::string html = figures.add("profiler", "Prediction profiler at the " + where,
                                 "Each response along each factor with the other factors held at the " + where +
                                     ", with its confidence band" +
                                     (p.desirability.empty() ? "" : ", and the overall desirability below"),
                                 std::move(traces), "", "");
  Json& layout = figures.list.back()["layout"];
  for (auto& [key, value] : axes.items()) layout[key] = value;
  layout["grid"] = {{"rows", panelRows}, {"columns", columns}, {"pattern", "independent"}};
  layout["height"] = 220 * panelRows + 120;
  return html;
}

// The sweet spot over the first two factors: each limit's contour, the
// region where all hold shaded, the optimum and the runs marked.
std::string overlayFigure(Figures& figures, const Fit& fit, const Goals& goals, const Optimum& optimum) {
  if (fit.factorCount() < 2) return "";
  const views::Overlay o = views::overlay(fit, goals.constraints, 0, 1, optimum.candidates.front().natural, &optimum);
  Json mask = Json::array();
  for (std::size_t i = 0; i < o.grid.y.size(); ++i) {
    Json row = Json::array();
    for (std::size_t j = 0; j < o.grid.x.size(); ++j) row.push_back(o.feasible[i * o.grid.x.size() + j]);
    mask.push_back(std::move(row));
  }
  Json traces = Json::array({{{"type", "heatmap"}, {"name", "every limit met"}, {"x", numbers(o.grid.x)},
                              {"y", numbers(o.grid.y)}, {"z", std::move(mask)}, {"showscale", false},
                              {"colorscale", Json::array({Json::array({0, "rgba(255,255,255,0)"}),
                                                          Json::array({1, "rgba(0,158,115,0.35)"})})},
                              {"hoverinfo", "skip"}}});
  for (std::size_t k = 0; k < o.limits.size(); ++k) {
    const views::Limit& l = o.limits[k];
    const Response& r = fit.responses[l.response];
    traces.push_back({{"type", "contour"}, {"name", r.name + (l.lower ? " ≥ " : " ≤ ") + shown(l.level)},
                      {"x", numbers(o.grid.x)}, {"y", numbers(o.grid.y)}, {"z", rows(l.value)},
                      {"contours", {{"start", l.level}, {"end", l.level}, {"size", 1}, {"coloring", "lines"},
                                    {"showlabels", true}}},
                      {"line", {{"width", 3}, {"dash", l.lower ? "solid" : "dash"}}},
                      {"colorscale", Json::array({Json::array({0, kPalette[(k + 1) % kPalette.size()]}),
                                                  Json::array({1, kPalette[(k + 1) % kPalette.size()]})})},
                      {"showscale", false}, {"showlegend", true}});
  }
  traces.push_back(runMarkers(o.runs));
  traces.back()["marker"]["color"] = "#000000";
  if (o.optimum.size() >= 2)
    traces.push_back({{"type", "scatter"}, {"mode", "markers"}, {"name", "optimum"},
                      {"x", Json::array({json::number(o.optimum[0])})}, {"y", Json::array({json::number(o.optimum[1])})},
                      {"marker", {{"size", 16}, {"symbol", "star"}, {"color", kPalette[5]}}}});
  return figures.add("overlay", "Sweet spot",
                     "Where every limit holds (shaded) over " + fit.factors[0].name + " and " + fit.factors[1].name +
                         heldText(fit, o.grid.held, 0, 1) + ", with each limit's contour, the optimum and the runs",
                     std::move(traces), label(fit.factors[0]), label(fit.factors[1]));
}

// ---------------------------------------------------------------- sections

std::string definitionSection(const Study& study) {
  const Plan& plan = study.plan();
  Table factors{"Factors", {"Factor", "Low", "High", "Unit"}, {}};
  for (const Factor& f : plan.factors) factors.rows.push_back({escaped(f.name), shown(f.low), shown(f.high), escaped(f.unit)});
  Table responses{"Responses", {"Response", "Unit"}, {}};
  for (const Response& r : study.responses()) responses.rows.push_back({escaped(r.name), escaped(r.unit)});
  return "<section id=\"definition\"><h2>Definition</h2><p>" + escaped(std::string(designKindName(plan.kind))) +
         " design, " + std::to_string(plan.runCount()) + " runs (" + std::to_string(plan.extraCenterRuns) +
         " extra centre runs), execution order from seed " + std::to_string(plan.seed) + ".</p>" + factors.html() +
         responses.html() + "</section>";
}

Json evaluationJson(const DesignEvaluation& e, const std::vector<std::string>& names, const ModelTerms& model) {
  Json terms = Json::array();
  for (std::size_t c = 0; c < model.size(); ++c)
    terms.push_back({{"term", quadratic::termLabel(names, model.indices[c])},
                     {"coefficientVariance", json::number(e.coefficientVariance[c])},
                     {"vif", json::number(e.vif[c])},
                     {"power", json::number(e.power[c])}});
  return {{"runs", e.runs},
          {"terms", e.terms},
          {"residualDf", e.residualDf},
          {"dEfficiency", json::number(e.dEfficiency)},
          {"aEfficiency", json::number(e.aEfficiency)},
          {"gEfficiency", json::number(e.gEfficiency)},
          {"iCriterion", json::number(e.iCriterion)},
          {"conditionNumber", json::number(e.conditionNumber)},
          {"termList", std::move(terms)},
          {"fdsFractions", numbers(e.fdsFractions)},
          {"fdsSpv", numbers(e.fdsSpv)}};
}

// How strongly the model's columns correlate over the runs, the intercept left out.
std::string correlationFigure(Figures& figures, const Study& study) {
  return viewFigure(study, "fds", "", "term correlations", [&](const Json& d) {
    Json terms = d["terms"];
    terms.erase(terms.begin());
    Json z = Json::array();
    for (std::size_t i = 1; i < d["correlations"].size(); ++i) {
      Json row = d["correlations"][i];
      row.erase(row.begin());
      z.push_back(std::move(row));
    }
    Json traces = Json::array({{{"type", "heatmap"}, {"name", "term correlations"}, {"x", terms}, {"y", terms},
                                {"z", std::move(z)}, {"zmin", -1}, {"zmax", 1}, {"colorscale", "RdBu"},
                                {"colorbar", {{"title", {{"text", "correlation"}}}}}}});
    std::string html = figures.add("correlations", "Correlation of the model terms",
                                   "How strongly the full quadratic's terms correlate over the runs' settings; 0 "
                                   "away from the diagonal is what an orthogonal design gives",
                                   std::move(traces), "", "");
    figures.list.back()["layout"]["yaxis"]["autorange"] = "reversed";
    return html;
  });
}

std::string designSection(const Study& study, Figures& figures, Json& data) {
  const Plan& plan = study.plan();
  std::vector<std::string> names;
  for (const Factor& f : plan.factors) names.push_back(f.name);
  const ModelTerms model = ModelTerms::quadratic(plan.factorCount());
  std::string out = "<section id=\"design\"><h2>Design evaluation</h2><p>For the full quadratic model, over the "
                    "cube of the factors' ranges, before any result.</p>";
  DesignEvaluation e;
  try {
    e = evaluateDesign(plan.actualCoded(), model);
  } catch (const Error& error) {
    data["design"] = nullptr;
    return out + notice(std::string("The design cannot be evaluated: ") + error.what()) + "</section>";
  }
  data["design"] = evaluationJson(e, names, model);
  Table summary{"Design criteria", {"Criterion", "Value", "Meaning"}, {}};
  summary.rows.push_back({"D-efficiency", shown(e.dEfficiency, 4) + " %", meaningCell("dEfficiency")});
  summary.rows.push_back({"A-efficiency", shown(e.aEfficiency, 4) + " %", meaningCell("aEfficiency")});
  summary.rows.push_back({"G-efficiency", shown(e.gEfficiency, 4) + " %", meaningCell("gEfficiency")});
  summary.rows.push_back({"I-criterion", shown(e.iCriterion, 4), meaningCell("iCriterion")});
  summary.rows.push_back({"Condition number", shown(e.conditionNumber, 4), meaningCell("conditionNumber")});
  Table terms{"Terms (VIF: " + std::string(meaningOf("vif").text) + ")", {"Term", "Var(b)/σ²", "VIF", "Power"}, {}};
  for (std::size_t c = 0; c < model.size(); ++c)
    terms.rows.push_back({escaped(quadratic::termLabel(names, model.indices[c])), shown(e.coefficientVariance[c], 4),
                          shown(e.vif[c], 4), shown(e.power[c], 3)});
  Json fds = Json::array({{{"type", "scatter"}, {"mode", "lines"}, {"name", "SPV"}, {"x", numbers(e.fdsFractions)},
                           {"y", numbers(e.fdsSpv)}}});
  out += summary.html() + terms.html() +
         figures.add("fds", "Fraction of design space",
                     "Scaled prediction variance against the fraction of the region with at most that variance",
                     std::move(fds), "Fraction of the design space", "Scaled prediction variance");
  out += correlationFigure(figures, study);
  return out + "</section>";
}

std::string runSection(const Study& study) {
  const Plan& plan = study.plan();
  Table table{"Runs in execution order, at the settings they were made at", {"Order", "Run"}, {}};
  for (const Factor& f : plan.factors) table.headings.push_back(label(f));
  for (const Response& r : study.responses()) table.headings.push_back(label(r));
  for (std::size_t k = 0; k < plan.executionOrder.size(); ++k) {
    const int id = plan.executionOrder[k];
    const std::size_t row = static_cast<std::size_t>(id) - 1;
    std::vector<std::string> cells{std::to_string(k + 1), std::to_string(id)};
    for (std::size_t f = 0; f < plan.factorCount(); ++f) cells.push_back(shown(plan.actual(row, f)));
    for (std::size_t r = 0; r < study.responses().size(); ++r) cells.push_back(shown(study.results()(row, r)));
    table.rows.push_back(std::move(cells));
  }
  return "<section id=\"runs\"><h2>Run sheet and results</h2>" + table.html() + "</section>";
}

std::string statisticsTable(const FitReport& r) {
  Table table{"Fit statistics", {"Statistic", "Value", "Meaning"}, {}};
  const auto add = [&](const char* name, double value, const char* key, int digits = 6) {
    table.rows.push_back({name, shown(value, digits), meaningCell(key)});
  };
  add("R²", r.rSquared, "rSquared");
  add("Adjusted R²", r.adjustedRSquared, "adjustedRSquared");
  add("Predicted R²", r.predictedRSquared, "predictedRSquared");
  add("PRESS", r.press, "press");
  add("RMSE", r.rmse, "rmse");
  add("F", r.fStatistic, "fStatistic");
  add("p of F", r.fPValue, "fPValue", 3);
  if (r.lackOfFit.available) {
    add("Lack of fit p", r.lackOfFit.p, "lackOfFit", 3);
    add("Pure error SS", r.lackOfFit.pureErrorSS, "pureError");
  }
  return table.html();
}

std::string coefficientTable(const FitReport& r) {
  Table table{"Coefficients in coded units (" + shown(100 * r.confidence) + " % confidence)",
              {"Term", "Estimate", "Std. error", "p", "Lower", "Upper"}, {}};
  for (const CoefficientRow& row : r.coefficients)
    table.rows.push_back({escaped(row.term), shown(row.coded.value), shown(row.coded.stdError), shown(row.coded.p, 3),
                          shown(row.coded.lower), shown(row.coded.upper)});
  return table.html();
}

// Appended piece by piece: GCC 12 reports `" " + std::string` here as an overlapping copy.
std::string canonicalText(const Canonical& c) {
  std::string out = "<p>Shape of the surface: <strong>";
  out += escaped(std::string(canonicalKindName(c.kind)));
  out += "</strong>; eigenvalues";
  for (const double v : c.eigenvalues) {
    out += ' ';
    out += shown(v, 4);
  }
  out += " <span class=\"meaning\">(";
  out += escaped(meaningOf("eigenvalues").text);
  out += ")</span>";
  if (c.hasStationaryPoint) {
    out += "; stationary point";
    for (std::size_t f = 0; f < c.factors.size(); ++f) {
      out += f == 0 ? " " : ", ";
      out += escaped(c.factors[f]);
      out += " = ";
      out += shown(c.stationaryNatural[f]);
    }
    out += c.insideRegion ? " (inside" : " (outside";
    out += " the region), predicted ";
    out += shown(c.predictedAtStationary);
  }
  out += ".</p>";
  return out;
}

std::string modelSections(const Study& study, Figures& figures, Json& data, std::optional<Fit>& fit) {
  std::string out = "<section id=\"models\"><h2>Models</h2>";
  try {
    fit = study.fit();
  } catch (const StateError& error) {
    data["analysis"] = nullptr;
    return out + notice(std::string("No model can be fitted yet: ") + error.what()) + "</section>";
  }
  std::vector<std::size_t> all(fit->responses.size());
  for (std::size_t r = 0; r < all.size(); ++r) all[r] = r;
  data["analysis"] = json::analysesJson(study, *fit, all);
  for (std::size_t r = 0; r < all.size(); ++r) {
    const FitReport report = analyze(*fit, r);
    const Canonical canonical = canonicalAnalysis(*fit, r);
    const Response& response = fit->responses[r];
    out += "<section class=\"response\" id=\"response-" + std::to_string(r + 1) + "\"><h3>" +
           escaped(label(response)) + "</h3>" + verdictHtml(modelVerdict(study, *fit, r)) +
           statisticsTable(report) + coefficientTable(report) + canonicalText(canonical) + "<div class=\"figures\">";
    // One statement per figure: the figures' data is listed in the page's order.
    out += surfaceFigure(figures, *fit, r);
    out += surface3dFigure(figures, study, response, r);
    out += interactionFigure(figures, study, response, r);
    out += residualFigures(figures, study, response, r);
    out += boxCoxFigure(figures, study, response, r);
    out += "</div></section>";
  }
  return out + "</section>";
}

std::string goalText(const Goal& g) {
  return g.response + ": " + std::string(goalKindName(g.kind)) + " (" + shown(g.low) + " .. " +
         (g.kind == Goal::Target ? shown(g.target) + " .. " : "") + shown(g.high) + ")";
}

std::string robustnessPart(const Fit& fit, const Goals& goals, const Optimum& optimum, const RobustnessOptions& options,
                           Figures& figures, Json& result) {
  Robustness r;
  try {
    r = robustness(fit, goals, optimum, options);
  } catch (const StateError& error) {
    result["robustness"] = nullptr;
    return notice(std::string("Robustness cannot be simulated: ") + error.what());
  }
  result["robustness"] = json::robustnessJson(fit, goals, r);
  result["robustness"]["seed"] = options.seed;
  Table table{"Where the optimum moves under measurement noise (" + std::to_string(r.replicates) +
                  " simulated repeats of the study, seed " + std::to_string(options.seed) + ")",
              {"Factor"}, {}};
  for (const double p : r.percentiles) table.headings.push_back(shown(p) + " %");
  for (std::size_t f = 0; f < fit.factorCount(); ++f) {
    std::vector<std::string> cells{escaped(label(fit.factors[f]))};
    for (std::size_t p = 0; p < r.percentiles.size(); ++p) cells.push_back(shown(r.settingPercentiles(f, p)));
    table.rows.push_back(std::move(cells));
  }
  std::string out = "<h3>Robustness</h3><p class=\"meaning\">" + escaped(meaningOf("robustness").text) + "</p>" +
                    table.html();
  for (std::size_t k = 0; k < goals.constraints.size() && k < r.constraintProbability.size(); ++k)
    out += "<p>" + escaped(goals.constraints[k].response) + " stays within its limits at the optimum in " +
           shown(100 * r.constraintProbability[k], 3) + " % of the repeats.</p>";
  if (fit.factorCount() < 2) {
    Json traces = Json::array({{{"type", "histogram"}, {"name", "relocated optima"}, {"x", numbers(column(r.optima, 0))}}});
    return out + figures.add("robustness", "Relocated optima",
                             "How often the optimum was found again at each setting in the simulated repeats",
                             std::move(traces), label(fit.factors[0]), "Repeats");
  }
  views::RobustnessCloud cloud;
  try {
    cloud = views::robustnessCloud(fit, r, 0, 1);
  } catch (const StateError& error) {
    return out + notice(std::string("No cloud of relocated optima: ") + error.what());
  }
  Json traces = Json::array(
      {{{"type", "scatter"}, {"mode", "markers"}, {"name", "relocated optima"}, {"x", numbers(cloud.x)},
        {"y", numbers(cloud.y)}, {"marker", {{"size", 4}, {"opacity", 0.5}}}},
       {{"type", "scatter"}, {"mode", "lines"}, {"name", shown(cloud.lowPercentile) + "–" + shown(cloud.highPercentile) +
                                                          " % box"},
        {"x", Json::array({cloud.boxLowX, cloud.boxHighX, cloud.boxHighX, cloud.boxLowX, cloud.boxLowX})},
        {"y", Json::array({cloud.boxLowY, cloud.boxLowY, cloud.boxHighY, cloud.boxHighY, cloud.boxLowY})},
        {"line", {{"color", kPalette[7]}, {"dash", "dot"}}}},
       {{"type", "scatter"}, {"mode", "markers"}, {"name", "optimum"}, {"x", Json::array({json::number(cloud.nominalX)})},
        {"y", Json::array({json::number(cloud.nominalY)})},
        {"marker", {{"size", 14}, {"symbol", "star"}, {"color", kPalette[5]}}}}});
  return out + figures.add("robustness", "Relocated optima",
                           "The optimum found again in each simulated repeat of the study, the box of the outer "
                           "percentiles, and the optimum itself",
                           std::move(traces), label(fit.factors[0]), label(fit.factors[1]));
}

std::string optimumSection(const Study& study, const Fit& fit, const ReportRequest& request, Figures& figures,
                           Json& data) {
  Goals goals = completeGoals(fit, *request.goals, request.search);
  const Optimum optimum = optimize(fit, goals, request.search);
  Json result = {{"models", json::modelsUsedJson(study)}, {"goals", json::toJson(goals)},
                 {"optimum", json::optimumJson(fit, optimum)}};
  std::string out = "<section id=\"optimum\"><h2>Optimum</h2><ul>";
  for (const Goal& g : goals.goals) out += "<li>" + escaped(goalText(g)) + "</li>";
  for (const Constraint& c : goals.constraints) {
    const std::string bound = !std::isfinite(c.low)    ? "at most " + shown(c.high)
                              : !std::isfinite(c.high) ? "at least " + shown(c.low)
                                                       : "within " + shown(c.low) + " .. " + shown(c.high);
    out += "<li>" + escaped(c.response + " kept " + bound) + "</li>";
  }
  out += "</ul>";
  if (optimum.candidates.empty()) {
    data["optimum"] = std::move(result);
    return out + notice("No setting meets every constraint.") + "</section>";
  }
  out += verdictHtml(optimumVerdict(fit, optimum));
  const Candidate& best = optimum.candidates.front();
  Table settings{"The best settings", {"Factor", "Setting"}, {}};
  for (std::size_t f = 0; f < fit.factorCount(); ++f)
    settings.rows.push_back({escaped(label(fit.factors[f])), shown(best.natural[f])});
  Table predictions{"Predictions there (95 % intervals)",
                    {"Response", "Predicted", "Confidence interval", "Prediction interval", "Desirability"}, {}};
  for (std::size_t r = 0; r < fit.responses.size(); ++r) {
    const Prediction& p = best.predictions[r];
    predictions.rows.push_back({escaped(label(fit.responses[r])), shown(p.value),
                                shown(p.confidenceLow) + " .. " + shown(p.confidenceHigh),
                                shown(p.predictionLow) + " .. " + shown(p.predictionHigh), shown(best.desirability[r], 4)});
  }
  out += settings.html() + predictions.html() + "<p>Overall desirability " + shown(best.overall, 4) +
         " <span class=\"meaning\">(" + escaped(meaningOf("overall").text) + ")</span></p>";
  out += "<div class=\"figures wide\">" + profilerFigure(figures, fit, best.natural, goals, "optimum");
  if (!goals.constraints.empty()) out += overlayFigure(figures, fit, goals, optimum);
  out += "</div>";
  out += robustnessPart(fit, goals, optimum, request.robustness, figures, result);
  data["optimum"] = std::move(result);
  return out + "</section>";
}

constexpr std::string_view kStyle = R"(
body{font-family:system-ui,sans-serif;margin:0 auto;max-width:1100px;padding:1rem;color:#1a1a1a;line-height:1.45}
h1{font-size:1.6rem}h2{border-bottom:2px solid #0072B2;padding-bottom:.2rem;margin-top:2rem}
table{border-collapse:collapse;margin:.8rem 0;font-variant-numeric:tabular-nums}
caption{text-align:left;font-weight:600;padding:.3rem 0}
th,td{border:1px solid #c8c8c8;padding:.25rem .5rem;text-align:right;vertical-align:top}
th[scope=col]{background:#eef3f8}th[scope=row]{text-align:left;font-weight:normal}
td:last-child{text-align:left}.scroll{overflow-x:auto}
.verdict{border-left:6px solid #009E73;background:#eef8f4;padding:.4rem .8rem;margin:.6rem 0}
.verdict.warning{border-color:#D55E00;background:#fdf0e8}.verdict ul{margin:.2rem 0}
.notice{border-left:6px solid #E69F00;background:#fff7e6;padding:.4rem .8rem}
.meaning{color:#555;font-size:.9em}
.figures{display:grid;grid-template-columns:repeat(auto-fit,minmax(min(440px,100%),1fr));gap:1rem}
.figures.wide{grid-template-columns:1fr}.figures.wide .plot{height:auto;min-height:380px}
figure{margin:0}.plot{width:100%;height:380px}figcaption{font-size:.9em;color:#444}
@media print{.plot{height:320px;break-inside:avoid}section.response{break-before:page}}
)";

}  // namespace

bool available() noexcept { return !plotlyScript().empty(); }

std::string html(const Study& study, const ReportRequest& request) {
  if (!available())
    throw StateError("the report needs Plotly, which this build lacks: install npm (tools/deps.sh browser) and build again");
  Figures figures;
  Json data = {{"study", json::studyJson(study)}};
  std::string body = definitionSection(study) + designSection(study, figures, data) + runSection(study);
  std::optional<Fit> fit;
  body += modelSections(study, figures, data, fit);
  if (request.goals && fit) body += optimumSection(study, *fit, request, figures, data);
  if (!request.goals && fit)
    body += "<section id=\"profile\"><h2>Profiler</h2><div class=\"figures wide\">" +
            profilerFigure(figures, *fit, views::centreSetting(*fit), {}, "centre") + "</div></section>";
  if (request.goals && !fit) body += "<section id=\"optimum\"><h2>Optimum</h2>" + notice("The optimum needs the models, which need every result.") + "</section>";
  data["figures"] = figures.list;

  std::string page = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                     "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                     "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
                     "script-src 'unsafe-inline' 'unsafe-eval'; style-src 'unsafe-inline'; img-src data: blob:; "
                     "font-src data:\"><title>" +
                     escaped(request.title) + "</title><style>" + std::string(kStyle) + "</style></head><body><h1>" +
                     escaped(request.title) + "</h1>" + body;
  page += "<script type=\"application/json\" id=\"tavrin-data\">" + jsonSafe(json::serialized(data)) + "</script>";
  page += "<script>" + scriptSafe(plotlyScript()) + "</script>";
  page += "<script>(function(){var data=JSON.parse(document.getElementById('tavrin-data').textContent);"
          "data.figures.forEach(function(f){Plotly.newPlot(f.id,f.data,f.layout,"
          "{responsive:true,displaylogo:false});});})();</script></body></html>\n";
  return page;
}

}  // namespace tavrin::report
