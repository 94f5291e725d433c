"""One emitter module per generated output; each formats the model only."""
