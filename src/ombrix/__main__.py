"""`python -m ombrix`: the command-line tool."""
import sys

from ombrix.cli import main

if __name__ == "__main__":
    sys.exit(main())
