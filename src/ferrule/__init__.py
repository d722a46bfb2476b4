"""Normalising transformations for skewed, censored data series."""
