"""Fitting a grid of series: cells, settings, results, files and progress."""
