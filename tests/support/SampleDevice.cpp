#include "tests/support/SampleDevice.hpp"

namespace tavrik::test {

Json sampleDeviceData()
{
    return parseJson(R"({
        "type": "sync_data",
        "dataVersion": 9,
        "firmwareVersion": "1.4.0",
        "hardwareTarget": "m5stick-c",
        "settings": {"muteNonAlarmSounds": 0, "killSwitchUid": ""},
        "wifi": {"supported": 1, "capacity": 3, "credentials": [{"ssid": "Home", "verified": 1, "lastSuccessful": 1}]},
        "clock": {"valid": 1, "year": 2025, "month": 6, "day": 15, "hour": 15, "minute": 6, "second": 40},
        "schedules": [{"id": 1, "routineId": 1, "hour": 7, "minute": 30, "days": 62, "enabled": 1}],
        "tags": [
            {"id": 1, "uid": "04 11 22 33 44 55 66", "name": "Kitchen"},
            {"id": 2, "uid": "04 AA BB CC DD EE FF", "name": "Desk"}
        ],
        "routines": [
            {"id": 1, "label": "Morning", "startTagIds": [2], "groups": [],
             "steps": [{"id": 1, "position": 0, "parentId": 0, "tagId": "1", "seconds": 60, "instruction": "Wash", "unstoppable": 0}]},
            {"id": 2, "label": "Evening", "startTagIds": [],
             "groups": [{"id": 3, "position": 0, "label": "Wind down", "mode": "timebox", "timeLimitSeconds": 600}],
             "steps": [{"id": 5, "position": 0, "parentId": 3, "tagId": "2", "seconds": 30, "instruction": "Read", "unstoppable": 1}]}
        ]
    })");
}

} // namespace tavrik::test
