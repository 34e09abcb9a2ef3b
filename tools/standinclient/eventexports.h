#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>

// One argument of a host call as written in a command: a number, a string, or nil
// (a null string).
struct HostValue
{
    QByteArray text;
    bool isNil = false;
};

// The host's side of one event export: its name and how to call it. The letters name
// the C type of each host argument: u 64-bit unsigned, a 16-bit ID, i int, s string.
struct EventExport
{
    const char* name;
    QByteArray letters;
    int (*invoke)(void* symbol, const QList<HostValue>& values);
};

// Every event export the client calls, in the client's order.
const QList<EventExport>& eventExports();

// The export called name, with or without the "vx5plugin_" prefix; null if unknown.
const EventExport* findEventExport(const QByteArray& name);

// Checks that each value fits its letter; an empty result means they all do.
QString checkValues(const EventExport& event, const QList<HostValue>& values);
