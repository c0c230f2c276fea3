#ifndef CAN_INTERFACE_TYPES_H
#define CAN_INTERFACE_TYPES_H

/* The first word of a CAN driver library's interface record (QVX_COPN, QVX_DNET): which way
 * the library reaches its bus. The access-point field names the device where one is needed. */
#define CAN_INTERFACE_SIMULATED_NETWORK 0u /* the embedded simulated network, in the process */
#define CAN_INTERFACE_SOCKETCAN 1u         /* a SocketCAN interface; access point "can0" */
#define CAN_INTERFACE_VIRTUALCAN 2u        /* a Qt virtual CAN bus; access point its URL */

#endif
