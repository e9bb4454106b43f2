"""`python -m tessaly_tools`: the `tessaly` command."""

import sys

from tessaly_tools._cli import main

sys.exit(main())
