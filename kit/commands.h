// loaderkit subcommands; each returns the process exit code.
#pragma once

int StampCommand(int argc, char** argv);
int ScrambleCommand(int argc, char** argv, bool unscramble);
int SiteCommand(int argc, char** argv);
int DownloadCommand(int argc, char** argv);
int FunnelCommand(int argc, char** argv);
