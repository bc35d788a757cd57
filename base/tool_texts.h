// SPDX-License-Identifier: Apache-2.0
// The lines of the tool's console output that other programs read (zvfleet
// follows an upload by them): each stands here once, without its line end,
// and both the code that prints it and the code that reads it use the name.
// A line that a format fills is given in pieces around its numbers.
#ifndef ZV_TOOL_TEXTS_H
#define ZV_TOOL_TEXTS_H

// The upload's phases, in the order they come.
#define TEXT_SENDING_NEW "Sending the new microcode to the remote system"
#define TEXT_GETTING_MODEL "Getting quorvaUnit model"
// "Sending Code Update pages A to B", before every send of a data packet
// (a resend included).
#define TEXT_PAGES_START "Sending Code Update pages "
#define TEXT_PAGES_TO " to "
#define TEXT_PAGES_FORMAT TEXT_PAGES_START "%d" TEXT_PAGES_TO "%d"
#define TEXT_FINISHING "Finishing transfering microcode"
#define TEXT_TRANSFERED "File Transfered"
#define TEXT_POWER_ADVICE \
  "Do not remove the power until you get a reply from pinging the device."

// A model query alone (zvfleet's preflight): the model the device named,
// "The device is of model N", and no reply within its bound.
#define TEXT_DEVICE_MODEL_START "The device is of model "
#define TEXT_NO_ANSWER_WITHIN "No answer within the time given"

// A request that met 15 silent waits, before it is sent again.
#define TEXT_RECV_TIMEOUT "recv timeout"

// The device's refusals and the fatal ends of a transfer.
#define TEXT_WRONG_PASSWORD "You entered the wrong Set Password"
#define TEXT_WRONG_MODEL_FILE \
  "Error! Trying to update the microcode using incorrect quorvaUnit model update file"
#define TEXT_UNKNOWN_MODEL "Updating to an unknown quorvaUnit model"
#define TEXT_BAD_CRC "Received bad CRC, exiting"
#define TEXT_BAD_VERSION "Received bad version, exiting"
#define TEXT_RECEIVE_ERROR "receiveCommand error!"

// Replies that the tool passes over (the wait is used up), by their start:
// the device answered, if not as the request wanted.
#define TEXT_WRONG_LENGTH_START "Wrong receive length from Code Update"
#define TEXT_NACK_FROM_PACKET "Received a NACK from packet "
#define TEXT_WRONG_ACK_START "Received ACK from wrong packet."
#define TEXT_WRONG_COMMAND_START "Did not get the correct command expected"

// The debug listener: its lines, and its report when another program holds
// the debug port ("bind:" through the error report, then the advice).
#define TEXT_DEBUG_LINE_START "Dbg>"
#define TEXT_BIND "bind:"
#define TEXT_DEBUG_PORT_START "Could not bind to the debug port:"
#define TEXT_DEBUG_PORT_FORMAT                                           \
  TEXT_DEBUG_PORT_START                                                  \
  "%d check to make sure there isn't another copy of this program running"

// The error report's parts: "System Error: <text> User Message: <message>".
#define TEXT_SYSTEM_ERROR "System Error: "
#define TEXT_USER_MESSAGE " User Message: "

#endif
