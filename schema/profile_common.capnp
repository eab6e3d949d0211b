# The profiled step, shared by the profile plans of an application package and by the samples of
# a cycle profile report, so that a step has one encoding in both files.
@0x81c385943a9df4c3;

using Cxx = import "/capnp/c++.capnp";
$Cxx.namespace("dova::package::profile_common_capnp");

enum StepKind {
  exchange @0;
  compute @1;
  synchronization @2;
  idle @3;
}

enum ExchangeActivityKind {
  send @0;
  receive @1;
  partnerBusy @2;
}

struct Step {
  localIndex @0 :UInt32;
  phase @1 :UInt32;
  epoch @2 :UInt32;
  operation @3 :Text;
  kind @4 :StepKind;
  kernel @5 :Text;
  metadata @6 :List(Metadata);
  exchangeActivities @7 :List(ExchangeActivity);
  exchangeEventCycles @8 :UInt32;
}

struct Metadata {
  name @0 :Text;
  value @1 :Text;
}

struct ExchangeActivity {
  kind @0 :ExchangeActivityKind;
  startCycle @1 :UInt32;
  endCycle @2 :UInt32;
}
