#!/usr/bin/env python3
"""Completes an MSI's tables where wixl cannot, in place, and checks the result:
- the rollback custom actions: wixl writes Execute="rollback" as an immediate action, so their type
  gets the in-script and rollback bits back (with "ignore the exit code" and "not impersonated");
- the install folder's own permissions: administrators and SYSTEM full control, users read and
  execute, in a LockPermissions table on the folder's CreateFolder row (wixl has no Permission
  element). LockPermissions rather than MsiLockPermissionsEx: Windows Installer 5, which reads
  the latter, is not on every Windows version the service supports, and a package may not have both.
    installer/tables.py PACKAGE.msi
It runs msitools' msibuild and msiinfo."""
import subprocess
import sys

# Custom action type bits (Microsoft's "Custom Action Return Processing Options" and "Custom
# Action In-Script Execution Options" pages).
EXE_FROM_FILE = 18
IGNORE_EXIT_CODE = 0x40
ROLLBACK = 0x100
IN_SCRIPT = 0x400
NO_IMPERSONATE = 0x800
ROLLBACK_TYPE = EXE_FROM_FILE | IGNORE_EXIT_CODE | ROLLBACK | IN_SCRIPT | NO_IMPERSONATE  # 3410
ROLLBACK_ACTIONS = ("RollbackRegisterService", "RollbackUnregisterService")

GENERIC_ALL = 0x10000000
GENERIC_READ_EXECUTE = 0x80000000 | 0x20000000
PERMISSIONS = (("Administrators", GENERIC_ALL), ("SYSTEM", GENERIC_ALL), ("Users", GENERIC_READ_EXECUTE))


def signed(value):
    return value - (1 << 32) if value >= 1 << 31 else value


def queries():
    yield from (
        "UPDATE `CustomAction` SET `Type` = %d WHERE `Action` = '%s'" % (ROLLBACK_TYPE, action)
        for action in ROLLBACK_ACTIONS
    )
    yield (
        "CREATE TABLE `LockPermissions` (`LockObject` CHAR(72) NOT NULL, `Table` CHAR(32) NOT NULL, "
        "`Domain` CHAR(255), `User` CHAR(255) NOT NULL, `Permission` LONG "
        "PRIMARY KEY `LockObject`, `Table`, `Domain`, `User`)"
    )
    for user, permission in PERMISSIONS:
        yield (
            "INSERT INTO `LockPermissions` (`LockObject`, `Table`, `User`, `Permission`) "
            "VALUES ('INSTALLDIR', 'CreateFolder', '%s', %d)" % (user, signed(permission))
        )


def rows(path, table):
    text = subprocess.run(["msiinfo", "export", path, table], check=True, capture_output=True, text=True).stdout
    return [line.split("\t") for line in text.splitlines()[3:]]


def check(path):
    types = {row[0]: int(row[1]) for row in rows(path, "CustomAction")}
    for action in ROLLBACK_ACTIONS:
        if types.get(action) != ROLLBACK_TYPE:
            sys.exit("tables.py: %s has type %s, not %d" % (action, types.get(action), ROLLBACK_TYPE))
    locks = sorted((row[0], row[1], row[3], int(row[4]) & 0xFFFFFFFF) for row in rows(path, "LockPermissions"))
    wanted = sorted(("INSTALLDIR", "CreateFolder", user, permission) for user, permission in PERMISSIONS)
    if locks != wanted:
        sys.exit("tables.py: LockPermissions holds %s" % locks)
    if ["INSTALLDIR", "QuenvarService"] not in rows(path, "CreateFolder"):
        sys.exit("tables.py: the install folder has no CreateFolder row")


def main(path):
    command = ["msibuild", path]
    for query in queries():
        command += ["-q", query]
    subprocess.run(command, check=True)
    check(path)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
