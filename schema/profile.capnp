# The cycle profile report file: one message with root struct Profile, in the standard unpacked
# stream framing. Field order fixes the wire layout; never reorder or insert fields.
@0xd16050bc7e3a56b1;

using Cxx = import "/capnp/c++.capnp";
$Cxx.namespace("dova::package::profile_capnp");

using Common = import "profile_common.capnp";

struct Profile {
  schemaVersion @0 :UInt32;
  clockHz @1 :UInt64;
  tiles @2 :List(TileProfile);
}

struct TileProfile {
  physicalTile @0 :UInt32;
  samples @1 :List(CycleSample);
}

struct CycleSample {
  step @0 :Common.Step;
  startCycle @1 :UInt32;
  endCycle @2 :UInt32;
}
