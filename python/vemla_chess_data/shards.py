"""Shards on disk: written whole or not at all, checked against the index.

A dataset folder holds

    index.json          settings, sources and every finished shard with the
                        size and CRC-32 of each of its files
    shard-00000/        positions.npy, games.npy, shard.json (its own entry)
    shard-00001/ ...
    .lock               held by the run writing to the folder

A shard is written into a temporary folder beside its final name and renamed
into place once its files are complete and synced, so a shard folder is
always whole. The index is rewritten (atomically) after each shard.

Nothing is written outside the folder: a symbolic link where the tool reads
or writes (the index, the lock, unique.npy, a shard or a file in one) is
refused, and files are created without following links. The folder itself
may be a link: it is the folder the user named.
"""

import contextlib
import errno
import fcntl
import io
import json
import os
import shutil
import stat
import zlib

from .records import INDEX, SHARD_MANIFEST, UNIQUE_FILE

TEMPORARY_PREFIX = ".tmp-"
LOCK = ".lock"
CHUNK = 1 << 22


class DatasetError(Exception):
    """A dataset folder that cannot be used as asked (its message says why and what to do)."""


class WriteFailed(Exception):
    """A shard could not be written (a full disk, a file-size limit): "cannot write to DIR: reason"."""


def file_digest(path):
    """(size, CRC-32) of a file."""
    crc, size = 0, 0
    with open(path, "rb") as f:
        while True:
            block = f.read(CHUNK)
            if not block:
                return size, crc
            crc = zlib.crc32(block, crc)
            size += len(block)


def create_file(path):
    """A new file at path, opened for writing; a link at path is not followed (ELOOP)."""
    with contextlib.suppress(FileNotFoundError):
        os.unlink(path)  # what a process of this pid left before it died
    return os.fdopen(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW | os.O_CLOEXEC, 0o644),
                     "wb")


def write_json_atomically(path, value):
    temporary = f"{path}.{os.getpid()}.tmp"
    with io.TextIOWrapper(create_file(temporary), encoding="utf-8") as f:
        json.dump(value, f, indent=1, sort_keys=True)
        f.write("\n")
        f.flush()
        os.fsync(f.fileno())
    os.replace(temporary, path)


def _sync_directory(path):
    fd = os.open(path, os.O_RDONLY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)


def write_shard(out_dir, name, arrays, meta):
    """Writes arrays ({file name: ndarray}) as the shard `name`; returns its entry.

    The entry is meta plus "files": {file: [size, crc32]}. If the shard is
    already in place (the same task ran twice), the one there is kept."""
    import numpy as np

    final = os.path.join(out_dir, name)
    temporary = os.path.join(out_dir, f"{TEMPORARY_PREFIX}{name}-{os.getpid()}-{os.urandom(4).hex()}")
    try:
        return _write_shard(out_dir, final, temporary, arrays, meta)
    except OSError as error:
        raise WriteFailed(f"cannot write to {out_dir}: {error.strerror or error}") from None


def _write_shard(out_dir, final, temporary, arrays, meta):
    import numpy as np

    os.mkdir(temporary)
    try:
        files = {}
        for file_name, array in arrays.items():
            path = os.path.join(temporary, file_name)
            array = np.ascontiguousarray(array)
            with open(path, "wb") as f:
                # The .npy header, then the data through the file object, so a
                # short write fails with the system's reason (no space, too large).
                np.lib.format.write_array_header_1_0(f, np.lib.format.header_data_from_array_1_0(array))
                f.write(array.reshape(-1).view(np.uint8).data)
                f.flush()
                os.fsync(f.fileno())
            files[file_name] = list(file_digest(path))
        entry = dict(meta, files=files)
        write_json_atomically(os.path.join(temporary, SHARD_MANIFEST), entry)
        _sync_directory(temporary)
        try:
            os.rename(temporary, final)
        except OSError as error:
            if error.errno not in (errno.ENOTEMPTY, errno.EEXIST):
                raise
            shutil.rmtree(temporary, ignore_errors=True)
        _sync_directory(out_dir)
    except BaseException:
        shutil.rmtree(temporary, ignore_errors=True)
        raise
    return entry


def check_shard(out_dir, name, entry):
    """None if the shard's files match entry's sizes and checksums, else what is wrong."""
    folder = os.path.join(out_dir, name)
    if not os.path.isdir(folder):
        return "missing"
    for file_name, (size, crc) in sorted(entry["files"].items()):
        path = os.path.join(folder, file_name)
        if not os.path.isfile(path):
            return f"{file_name} is missing"
        actual = os.path.getsize(path)
        if actual != size:
            return f"{file_name} has {actual} bytes instead of {size}"
        if file_digest(path)[1] != crc:
            return f"{file_name} does not match its checksum"
    return None


def shard_manifest(out_dir, name):
    """The entry a shard folder records for itself, or None if it has none that reads."""
    try:
        with open(os.path.join(out_dir, name, SHARD_MANIFEST)) as f:
            entry = json.load(f)
        return entry if isinstance(entry, dict) and isinstance(entry.get("files"), dict) else None
    except (OSError, ValueError):
        return None


def remove_temporaries(out_dir):
    """Removes what runs that were stopped while writing left behind (a link
    by that name is removed, not what it points to)."""
    removed = 0
    for name in os.listdir(out_dir):
        if name.startswith(TEMPORARY_PREFIX) or (name.endswith(".tmp") and name.startswith((INDEX, UNIQUE_FILE))):
            path = os.path.join(out_dir, name)
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path, ignore_errors=True)
            else:
                with contextlib.suppress(FileNotFoundError):
                    os.remove(path)
            removed += 1
    return removed


def _link_error(path, out_dir):
    return DatasetError(f"{path} is a symbolic link; the dataset tool writes only inside {out_dir} and follows "
                        "no link there: put what it points to in its place, or use another folder")


def refuse_links(out_dir):
    """DatasetError if a name the tool reads or writes in out_dir, or a file in
    one of its shards, is a symbolic link."""
    for name in sorted(os.listdir(out_dir)):
        if not (name in (INDEX, UNIQUE_FILE, LOCK) or name.startswith("shard-")):
            continue
        path = os.path.join(out_dir, name)
        if os.path.islink(path):
            raise _link_error(path, out_dir)
        if name in (INDEX, UNIQUE_FILE) and not os.path.isfile(path):
            # A FIFO or a device would block the read or never end it.
            raise DatasetError(f"{path} is not a regular file; remove it, or use another folder")
        if name.startswith("shard-") and os.path.isdir(path):
            for inner in sorted(os.listdir(path)):
                if os.path.islink(os.path.join(path, inner)):
                    raise _link_error(os.path.join(path, inner), out_dir)


def read_index(out_dir):
    path = os.path.join(out_dir, INDEX)
    if not os.path.exists(path):
        return None
    try:
        with open(path) as f:
            return json.load(f)
    except ValueError as error:
        raise DatasetError(f"{path} cannot be read ({error}); move the folder aside and start again") from None


def write_index(out_dir, index):
    write_json_atomically(os.path.join(out_dir, INDEX), index)


class FolderLock:
    """An exclusive lock on a dataset folder, held while a run writes to it.

    The kernel drops it when the process ends, however it ends, so a killed
    run never leaves a stale lock behind."""

    def __init__(self, out_dir):
        self.path = os.path.join(out_dir, LOCK)
        self.fd = None

    def __enter__(self):
        out_dir = os.path.dirname(self.path)
        try:
            fd = os.open(self.path, os.O_RDWR | os.O_CREAT | os.O_NOFOLLOW | os.O_CLOEXEC | os.O_NONBLOCK, 0o644)
        except OSError as error:
            if error.errno == errno.ELOOP:
                raise _link_error(self.path, out_dir) from None
            raise
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            os.close(fd)
            raise DatasetError(f"{self.path} is not a regular file; remove it, or use another folder")
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError as error:
            holder = os.pread(fd, 32, 0).decode(errors="replace").strip() or "unknown"
            os.close(fd)
            if error.errno in (errno.EWOULDBLOCK, errno.EACCES):
                raise DatasetError(f"another run (process {holder}) is writing to {os.path.dirname(self.path)}; "
                                   "wait for it to end, or use another folder") from None
            raise
        os.ftruncate(fd, 0)
        os.pwrite(fd, f"{os.getpid()}\n".encode(), 0)
        self.fd = fd
        try:
            refuse_links(out_dir)
        except BaseException:
            self.__exit__()
            raise
        return self

    def __exit__(self, *exc):
        # Left empty rather than removed: a run waiting to take the lock
        # holds this very file open.
        os.ftruncate(self.fd, 0)
        os.close(self.fd)
        self.fd = None
