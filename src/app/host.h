// What a host that runs the program on someone's behalf (the client of a
// volunteer-computing project) asks of a run. The committer polls it
// several times a second and after every block it files; the plain program
// has no host.
#pragma once

class run_host {
 public:
  virtual ~run_host() = default;
  // The share of the range filed so far, from 0 to 1, linear in p.
  virtual void report_fraction(double done) = 0;
  // Whether the host wants a checkpoint now. The committer then writes a
  // save point at the last prime filed (the factor files synced first) and
  // calls checkpoint_written.
  virtual bool checkpoint_wanted() = 0;
  virtual void checkpoint_written() = 0;
  // Bracket the writes of every save point, which the host must not cut.
  virtual void begin_writes() = 0;
  virtual void end_writes() = 0;
  // A request to stop (quit or abort): the run stops as on SIGTERM.
  virtual bool stop_wanted() = 0;
  // Whether the workers must pause (the host suspended the task).
  virtual bool pause_wanted() = 0;
};
