// loaderkit's commands: one table that both runs them and prints the usage.
#pragma once

// Each command takes the arguments after its name and returns the process exit code.
int StampCommand(int argc, char** argv);
int ScrambleCommand(int argc, char** argv);
int UnscrambleCommand(int argc, char** argv);
int SiteCommand(int argc, char** argv);
int DownloadCommand(int argc, char** argv);
int FunnelCommand(int argc, char** argv);

// Runs the command that argv[1] names (or the endpoint, under CGI without arguments), or prints
// the usage; the process exit code.
int RunCommandLine(int argc, char** argv);

// Prints a command's help on standard output: exit code 0, or 1 when it cannot be written.
int PrintHelp(const char* command, const char* text);
