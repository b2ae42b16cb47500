// Flushes made no-ops, preloaded into a program to show that the power-cut test notices when a
// program's data and names are not flushed: fsync and fdatasync succeed without writing anything.
int fsync(int fd) {
  (void)fd;
  return 0;
}

int fdatasync(int fd) {
  (void)fd;
  return 0;
}
