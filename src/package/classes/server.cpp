// The description of TServer.
#include "describe.h"

namespace quorin::classes {

namespace {

// The palette image: one place, one transaction in service.
constexpr const char* Image[24] = {
    "777777777777777777777777", "777777777777777777777777", "777777777777777777777777",
    "777777777777777777777777", "777700000000000000007777", "77770FFFFFFFFFFFFFF07777",
    "77770FFFFFFFFFFFFFF07777", "77770FFFF22222FFFFF07777", "07770FFF22FFF22FFFF00777",
    "70770FF22FFFFF22FFF07077", "77070FF2FFCCCFF2FFF07707", "00000FF2FFCCCFF2FFF00000",
    "77070FF2FFCCCFF2FFF07707", "70770FF22FFFFF22FFF07077", "07770FFF22FFF22FFFF00777",
    "77770FFFF22222FFFFF07777", "77770FFFFFFFFFFFFFF07777", "77770FFFFFFFFFFFFFF07777",
    "77770FFFFFFFFFFFFFF07777", "777700000000000000007777", "777777777777777777777777",
    "777777777777777777777777", "777777777777777777777777", "777777777777777777777777",
};

} // namespace

const TClassInfo& ServerClass() {
  static const TClassInfo Info{
      .Name = "TServer",
      .Order = 150,
      .Create = &Create<TServer>,
      .Is = &Is<TServer>,
      .Base = &ProQueueClass(),
      .Report = TReportKind::Server,
      .Statistics = Join<TStatisticInfo>(
          {ProQueueStatistics(), {Statistic(TReportColumn::Utilisation, &TServer::Utilisation)}}),
      .Properties = {Tag(), Property<TServer, bool>("Preemptive", 0, &TServer::Preemptive,
                                                    &TServer::SetPreemptive)},
      .Events = Join<TEventInfo>({EnterExit<TServer>(),
                                  {Event("OnPreempt", &TServer::OnPreempt, true),
                                   Event("OnRelease", &TServer::OnRelease, true), OnRouting()}}),
      .Traits = TClassTraits{.HoldsForTime = true, .KeepsDisplaced = true, .Schedule = TScheduleUse::Duty, .FollowSchedule = &FollowDuty},
      .Summary = "one transaction at a time for a service time from NextTime; Preemptive "
                 "interruption with OnPreempt, PostPone and resume, Release",
      .Image = Image,
  };
  return Info;
}

} // namespace quorin::classes
