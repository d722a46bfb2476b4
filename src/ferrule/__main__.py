"""`python -m ferrule ...` runs the command line."""

from ferrule.cli import main

raise SystemExit(main())
