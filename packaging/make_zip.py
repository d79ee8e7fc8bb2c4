"""Writes a zip whose bytes depend only on the files' contents: fixed order, time and permissions."""

import sys
import time
import zipfile


def main() -> None:
    target, folder, epoch, *names = sys.argv[1:]
    # Zip times are local-time fields without a zone: the UTC time of the commit, read the same everywhere.
    date_time = time.gmtime(int(epoch))[:6]
    with zipfile.ZipFile(target, "w") as archive:
        for name in names:
            info = zipfile.ZipInfo(name, date_time)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3
            info.external_attr = 0o100644 << 16
            with open(f"{folder}/{name}", "rb") as source:
                archive.writestr(info, source.read(), compresslevel=9)


if __name__ == "__main__":
    main()
