"""`python -m tessaly_tools`: the `tessaly` command."""

import sys

from tessaly_tools._cli import main

if __name__ == "__main__":
    sys.exit(main())
