"""The PE images and ELF shared objects of an installed kit, for the release
tests."""
import os


def _below(kit, endings):
    found = []
    for here, _, files in os.walk(kit):
        found += [os.path.relpath(os.path.join(here, f), kit).replace(os.sep, "/")
                  for f in files if f.lower().endswith(endings)]
    return sorted(found)


def images(kit):
    """Every .dll, .drv and .exe below kit, as sorted paths relative to it."""
    return _below(kit, (".dll", ".drv", ".exe"))


def unix_libraries(kit):
    """Every .so below kit (the Wine driver's Unix part), the same way."""
    return _below(kit, (".so",))
