"""Builds the loader a second time, from the same source in a folder of another name, and checks
that the two program files are the same bytes: nothing of the build's folder or clock gets in.
usage: rebuilt_same.py SOURCE_DIR BUILT_LOADER TOOLCHAIN_FILE [CMAKE_OPTION...]"""
import os
import shutil
import subprocess
import sys
import tempfile


def main():
    source, built, toolchain, options = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
    with tempfile.TemporaryDirectory(prefix="loader-rebuilt-") as folder:
        again = os.path.join(folder, "another-name")
        subprocess.run(["cmake", "-S", source, "-B", again, "-G", "Ninja", "--toolchain", toolchain,
                        "-DCMAKE_BUILD_TYPE=MinSizeRel", "-DLOADER_WIN_TESTS=OFF", *options],
                       check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", again, "--target", "loader"], check=True, stdout=subprocess.DEVNULL)
        first, second = (open(p, "rb").read() for p in (built, os.path.join(again, "loader.exe")))
    if first == second:
        print("the same %d bytes from another folder" % len(first))
        return 0
    differ = [i for i in range(min(len(first), len(second))) if first[i] != second[i]]
    print("the rebuilt loader differs: %d and %d bytes, first differing offsets %s"
          % (len(first), len(second), differ[:8]))
    return 1


if __name__ == "__main__":
    sys.exit(main())
