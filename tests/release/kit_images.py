"""The PE images of an installed kit, for the release tests."""
import os


def images(kit):
    """Every .dll, .drv and .exe below kit, as sorted paths relative to it."""
    found = []
    for here, _, files in os.walk(kit):
        found += [os.path.relpath(os.path.join(here, f), kit).replace(os.sep, "/")
                  for f in files if f.lower().endswith((".dll", ".drv", ".exe"))]
    return sorted(found)
