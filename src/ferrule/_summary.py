"""The text table of ``Fit.summary()``."""

from typing import TYPE_CHECKING

from ferrule._names import METHOD_TITLES, family_info

if TYPE_CHECKING:
    from ferrule._result import Fit

__all__ = ["summary_table"]


def summary_table(fit: "Fit") -> str:
    title = family_info(fit.family).title
    stop = "converged" if fit.converged else ("limit reached" if fit.limit_reached else "failed")
    rows = [
        ("values", f"{fit.n} ({fit.n_left} left-censored, {fit.n_right} right-censored, "
                   f"{fit.n_dropped} NaN omitted)"),
        ("thresholds", f"left {fit.left:g}, right {fit.right:g}"),
        ("rescaling", f"u = (x + {fit.shift:g}) * {fit.scale:g}"),
        *((name, f"{value:.6g}") for name, value in fit.params.items()),
        ("mu", f"{fit.mu:.6g}"),
        ("sigma", f"{fit.sigma:.6g}"),
        ("loglik", f"{fit.loglik:.6g} (data units)"),
        *((("log posterior", f"{fit.log_posterior:.6g}"),) if fit.log_posterior is not None
          else ()),
        ("AIC / BIC", f"{fit.aic:.6g} / {fit.bic:.6g}"),
        ("seed", str(fit.seed)),
        ("valid", "yes" if fit.valid else "no: " + "; ".join(fit.problems)),
        *(("note", note) for note in fit.notes),
    ]  # fmt: skip
    width = max(len(name) for name, _ in rows)
    head = f"{title} fit by {METHOD_TITLES[fit.method]} ({fit.count} {fit.count_unit}, {stop})"
    return "\n".join([head, *(f"  {name:<{width}}  {text}" for name, text in rows)])
