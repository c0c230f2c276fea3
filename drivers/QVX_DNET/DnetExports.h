#pragma once

// The exports of libQVX_DNET.so, the DeviceNet master driver library, as programs look them
// up by name. Every export returns nonzero for success and 0 for failure; out-parameters are
// written only on success. h is the handle OpenInterface hands out; an export given a handle
// that is not open, a null pointer where one is needed, or a MAC ID over 63 fails without
// effect. Every export may be called from several threads at once: requests to one node run
// one after the other, those to different nodes at once.
//
// MAC IDs, services, flags and single bytes are uint8_t, class and instance IDs, attribute
// IDs and lengths uint16_t, everything else uint32_t, passed by value; texts are char buffers
// of at least 256 bytes. Multi-byte attribute values travel low byte first.

#include "SharedExports.h"

#include <cstdint>

#define DNET_EXPORT DRIVERCORE_EXPORT

// Besides the exports every CAN driver library has (SharedExports.h): DLL_Version is 1.0,
// SetBaud takes 125000, 250000 or 500000 bit/s, ReadConfiguration's defaults are MAC ID 0 and
// 125 kbit/s, and going online is described below.

// --- The interface ------------------------------------------------------------------------

// The master's own MAC ID, 0 to 63 (0 until set); it can be changed only while offline.
DNET_EXPORT std::int32_t SetMacID(std::uint32_t h, std::uint8_t mac);
DNET_EXPORT std::int32_t GetMacID(std::uint32_t h, std::uint8_t* mac);
// SetOnline, online (nonzero): the master checks that no other station has its MAC ID — two
// duplicate MAC ID check requests a second apart, then a second of silence, so the call
// takes about two seconds — and then takes part in the bus. It fails, and the master stays
// offline, when another station answers for the MAC ID (last-error 0x20000002) or the
// interface cannot send (0x20000000). An online master that hears another station claim its
// MAC ID goes offline. Offline (0): every request ends failed, every node counts as absent;
// the scanlist stays. Going offline releases the explicit connection of every node that the
// master holds (Release_Master/Slave_Connection_Set), waiting for each node's answer or its
// time-out, so that another master can allocate the nodes at once; after that nothing is
// sent. CloseCard goes offline in the same way first.

// --- Explicit messaging -------------------------------------------------------------------
//
// Every request goes to the node over its explicit connection of the Predefined Master/Slave
// Connection Set, which the master allocates first when it does not hold it (or has not used
// it for five seconds); bodies longer than a frame travel in acknowledged fragments both
// ways. A request fails when the node answers with an error response, when it does not answer
// within a second (a fragment is sent once more before that counts), when the class or
// instance is too wide for the node's message body format (an attribute ID over 255 as well),
// and while the master is offline or the node is the master itself.

// Get_Attribute_Single: *length holds the capacity of data on entry and the number of bytes
// written on return. A value longer than the capacity is not cut: the call fails, and data
// and *length stay as they were.
DNET_EXPORT std::int32_t GetAttribute(std::uint32_t h, std::uint8_t mac, std::uint16_t classId,
                                      std::uint16_t instance, std::uint16_t attribute,
                                      std::uint16_t* length, std::uint8_t* data);
// Get_Attribute_Single of a value of exactly the type's width; fails for any other length.
DNET_EXPORT std::int32_t GetAttribute_USINT(std::uint32_t h, std::uint8_t mac,
                                            std::uint16_t classId, std::uint16_t instance,
                                            std::uint16_t attribute, std::uint8_t* value);
DNET_EXPORT std::int32_t GetAttribute_SINT(std::uint32_t h, std::uint8_t mac, std::uint16_t classId,
                                           std::uint16_t instance, std::uint16_t attribute,
                                           std::int8_t* value);
DNET_EXPORT std::int32_t GetAttribute_UINT(std::uint32_t h, std::uint8_t mac, std::uint16_t classId,
                                           std::uint16_t instance, std::uint16_t attribute,
                                           std::uint16_t* value);
DNET_EXPORT std::int32_t GetAttribute_INT(std::uint32_t h, std::uint8_t mac, std::uint16_t classId,
                                          std::uint16_t instance, std::uint16_t attribute,
                                          std::int16_t* value);
DNET_EXPORT std::int32_t GetAttribute_UDINT(std::uint32_t h, std::uint8_t mac,
                                            std::uint16_t classId, std::uint16_t instance,
                                            std::uint16_t attribute, std::uint32_t* value);
DNET_EXPORT std::int32_t GetAttribute_DINT(std::uint32_t h, std::uint8_t mac, std::uint16_t classId,
                                           std::uint16_t instance, std::uint16_t attribute,
                                           std::int32_t* value);
DNET_EXPORT std::int32_t GetAttribute_REAL(std::uint32_t h, std::uint8_t mac, std::uint16_t classId,
                                           std::uint16_t instance, std::uint16_t attribute,
                                           float* value);
DNET_EXPORT std::int32_t GetAttribute_DOUBLE(std::uint32_t h, std::uint8_t mac,
                                             std::uint16_t classId, std::uint16_t instance,
                                             std::uint16_t attribute, double* value);

// Set_Attribute_Single with the bytes given (data may be null when length is 0).
DNET_EXPORT std::int32_t SetAttribute(std::uint32_t h, std::uint8_t mac, std::uint16_t classId,
                                      std::uint16_t instance, std::uint16_t attribute,
                                      std::uint16_t length, const std::uint8_t* data);
// Set_Attribute_Single of a value of the type's width.
DNET_EXPORT std::int32_t SetAttribute_USINT(std::uint32_t h, std::uint8_t mac,
                                            std::uint16_t classId, std::uint16_t instance,
                                            std::uint16_t attribute, std::uint8_t value);
DNET_EXPORT std::int32_t SetAttribute_SINT(std::uint32_t h, std::uint8_t mac, std::uint16_t classId,
                                           std::uint16_t instance, std::uint16_t attribute,
                                           std::int8_t value);
DNET_EXPORT std::int32_t SetAttribute_UINT(std::uint32_t h, std::uint8_t mac, std::uint16_t classId,
                                           std::uint16_t instance, std::uint16_t attribute,
                                           std::uint16_t value);
DNET_EXPORT std::int32_t SetAttribute_INT(std::uint32_t h, std::uint8_t mac, std::uint16_t classId,
                                          std::uint16_t instance, std::uint16_t attribute,
                                          std::int16_t value);
DNET_EXPORT std::int32_t SetAttribute_UDINT(std::uint32_t h, std::uint8_t mac,
                                            std::uint16_t classId, std::uint16_t instance,
                                            std::uint16_t attribute, std::uint32_t value);
DNET_EXPORT std::int32_t SetAttribute_DINT(std::uint32_t h, std::uint8_t mac, std::uint16_t classId,
                                           std::uint16_t instance, std::uint16_t attribute,
                                           std::int32_t value);
DNET_EXPORT std::int32_t SetAttribute_REAL(std::uint32_t h, std::uint8_t mac, std::uint16_t classId,
                                           std::uint16_t instance, std::uint16_t attribute,
                                           float value);
DNET_EXPORT std::int32_t SetAttribute_DOUBLE(std::uint32_t h, std::uint8_t mac,
                                             std::uint16_t classId, std::uint16_t instance,
                                             std::uint16_t attribute, double value);

// Any service (bit 7 clear) to the class and instance, with the request data (null when
// requestLength is 0). *responseLength holds the capacity of response on entry and the number
// of response data bytes written on return; a response longer than the capacity fails the
// call, as GetAttribute does.
// Identity Reset (service 0x05 to class 1) restarts the node: its connection is allocated
// again for the next request, and the scanner finds it again when it is back.
DNET_EXPORT std::int32_t ExplicitService(std::uint32_t h, std::uint8_t mac, std::uint8_t service,
                                         std::uint16_t classId, std::uint16_t instance,
                                         std::uint16_t requestLength, const std::uint8_t* request,
                                         std::uint16_t* responseLength, std::uint8_t* response);

// --- Connections --------------------------------------------------------------------------
//
// Only the explicit connection (flag 0x01) is served; the I/O connections (poll 0x02, bit
// strobe 0x04, change of state 0x10, cyclic 0x20) are not.

// Allocates (Release: releases) the node's explicit connection now; flags must be exactly
// 0x01. Allocate_MS_Connection_Set and Release_MS_Connection_Set are the same.
DNET_EXPORT std::int32_t Allocate(std::uint32_t h, std::uint8_t mac, std::uint8_t flags);
DNET_EXPORT std::int32_t Release(std::uint32_t h, std::uint8_t mac, std::uint8_t flags);
DNET_EXPORT std::int32_t Allocate_MS_Connection_Set(std::uint32_t h, std::uint8_t mac,
                                                    std::uint8_t flags);
DNET_EXPORT std::int32_t Release_MS_Connection_Set(std::uint32_t h, std::uint8_t mac,
                                                   std::uint8_t flags);
// Releases every explicit connection the master holds; nonzero when every node took it.
DNET_EXPORT std::int32_t ReleaseAll(std::uint32_t h);
// Nonzero active allocates the node's explicit connection, 0 releases it.
DNET_EXPORT std::int32_t SetExplicitActive(std::uint32_t h, std::uint8_t mac, std::uint32_t active);
// The nodes are Group 2 only servers: no UCMM connections. Both fail.
DNET_EXPORT std::int32_t Allocate_UCMM(std::uint32_t h, std::uint8_t mac, std::uint8_t flags);
DNET_EXPORT std::int32_t UCMM_CloseConnection(std::uint32_t h, std::uint8_t mac);

// --- Scanner ------------------------------------------------------------------------------

// Puts the node into the scanlist with the connection flags (bit 0x01, the explicit
// connection, must be among them; the I/O bits are kept but not served) and four 16-bit
// parameters (params may be null: all 0), which are kept as given; a node in the list
// already takes the new flags and parameters.
DNET_EXPORT std::int32_t AddToScanlist(std::uint32_t h, std::uint8_t mac, std::uint8_t flags,
                                       void* params);
// Takes the node out of the scanlist when the flags have bit 0x01; other flags, and a node not
// in the list, change nothing and succeed.
DNET_EXPORT std::int32_t RemoveFromScanlist(std::uint32_t h, std::uint8_t mac, std::uint8_t flags);
// While scanning (and online), the master keeps allocating the explicit connection of every
// node in its scanlist that does not hold one, about once a second, and asks every node whose
// connection has been idle for a second for its vendor ID, so that a node that leaves or
// restarts is found absent within three seconds and found again when it is back.
DNET_EXPORT std::int32_t StartScan(std::uint32_t h);
DNET_EXPORT std::int32_t StopScan(std::uint32_t h);
// *present is nonzero while the master is online and scanning, the node is in the scanlist,
// its explicit connection is allocated and the node answered its last request. Answers from
// what the master knows, without a request of its own; the result is nonzero for any MAC ID
// 0 to 63 of an open handle.
DNET_EXPORT std::int32_t NodeOnline(std::uint32_t h, std::uint8_t mac, std::uint32_t* present);

// --- I/O connections: not served, every one fails -----------------------------------------

DNET_EXPORT std::int32_t SetPollActive(std::uint32_t h, std::uint8_t mac, std::uint32_t active);
DNET_EXPORT std::int32_t SetStrobeActive(std::uint32_t h, std::uint8_t mac, std::uint32_t active);
DNET_EXPORT std::int32_t SetCOSCyclicActive(std::uint32_t h, std::uint8_t mac,
                                            std::uint32_t active);
DNET_EXPORT std::int32_t GetPollActive(std::uint32_t h, std::uint8_t mac, std::uint32_t* active);
DNET_EXPORT std::int32_t GetStrobeActive(std::uint32_t h, std::uint8_t mac, std::uint32_t* active);
DNET_EXPORT std::int32_t GetCOSCyclicActive(std::uint32_t h, std::uint8_t mac,
                                            std::uint32_t* active);
DNET_EXPORT std::int32_t SetPollInterval(std::uint32_t h, std::uint16_t intervalMs);
DNET_EXPORT std::int32_t SetStrobeInterval(std::uint32_t h, std::uint16_t intervalMs);
DNET_EXPORT std::int32_t GetPollInterval(std::uint32_t h, std::uint16_t* intervalMs);
DNET_EXPORT std::int32_t GetStrobeInterval(std::uint32_t h, std::uint16_t* intervalMs);
DNET_EXPORT std::int32_t SetIOConsumeData(std::uint32_t h, std::uint8_t mac, std::uint16_t length,
                                          const std::uint8_t* data);
DNET_EXPORT std::int32_t GetIOConsumeData(std::uint32_t h, std::uint8_t mac, std::uint16_t* length,
                                          std::uint8_t* data);
DNET_EXPORT std::int32_t GetIOProduceData(std::uint32_t h, std::uint8_t mac, std::uint16_t* length,
                                          std::uint8_t* data);
DNET_EXPORT std::int32_t GetConnectionSize(std::uint32_t h, std::uint8_t mac, std::uint8_t flags,
                                           std::uint16_t* produced, std::uint16_t* consumed);
DNET_EXPORT std::int32_t CalculateResponseMaxMinAvg(std::uint32_t h, std::uint8_t mac,
                                                    std::uint32_t* maxMs, std::uint32_t* minMs,
                                                    std::uint32_t* averageMs);
DNET_EXPORT std::int32_t ResetConnectionCounters(std::uint32_t h, std::uint8_t mac);
DNET_EXPORT std::int32_t Reset_NodeConnectionTimers(std::uint32_t h, std::uint8_t mac);

// --- Configuration and windows ------------------------------------------------------------

// The configuration window (interface, device, bit rate, own MAC ID): nonzero when the user
// accepted; both records are written then, and only then.
DNET_EXPORT std::int32_t DeviceNetConfigurationWindow(void* config, void* networkSettings);
// A window with the library's version and, when h is open, its interface, bit rate, MAC ID
// and state; nonzero once the user closed it (0 without a Qt application).
DNET_EXPORT std::int32_t VersionInformationWindow(std::uint32_t h);
