"""What every harness asks of the machine before it starts: the programs it drives."""
import shutil


def need(program, package, error=AssertionError):
    """Stops the caller at once, naming the package, when `program` is not installed: a test
    fails with the fix in its message rather than with a bare "file not found" later on."""
    if not shutil.which(program):
        raise error("%s is not installed: scripts/install-deps.sh all installs it (package %s)"
                    % (program, package))
