/*
 * Result codes of the Vantro library. 0 is success; the library's own
 * failures carry 0x900d or 0xa00d in the upper 16 bits.
 */
#ifndef VANTRO_ERRORS_H
#define VANTRO_ERRORS_H

#define QXR_ERROR_NONE                0x00000000u
#define QXR_ERROR_DEVICE_FAILED       0x900d0000u /* a yes/no command answered no */
#define QXR_ERROR_FRAME_LENGTH        0x900d0003u /* frame length field and size disagree */
#define QXR_ERROR_FRAME_CHECKSUM      0x900d0004u /* frame checksum wrong */
#define QXR_ERROR_FRAME_SEQUENCE      0x900d0005u /* middle fragment out of sequence */
#define QXR_ERROR_FRAME_FORMAT        0x900d0006u /* delimiters wrong, or a malformed reply */
#define QXR_ERROR_NOT_CONNECTED       0x900d0007u /* link closed, or an unexpected frame */
#define QXR_ERROR_NO_DATA             0x900d0008u /* nothing to send, no frame pending */
#define QXR_ERROR_STATE               0x900d0009u /* not allowed in this state; bad argument */
#define QXR_ERROR_NO_LINK             0x900d000au /* no link to wait on */
#define QXR_ERROR_NO_MESSAGE          0x900d000bu /* frame controller without message layer */
#define QXR_ERROR_PCIF_TRANSMIT       0x900d000du /* the link failed to send */
#define QXR_ERROR_WAIT_RESPONSE       0x900d000eu /* waiting for the response failed */
#define QXR_ERROR_SEND_TIMEOUT        0x900d0017u /* no reply within 2000 ms */
#define QXR_ERROR_RECV_TIMEOUT        0x900d0018u /* no progress of the response for 10000 ms */
#define QXR_ERROR_FILE_OPEN           0x900d001au /* firmware file cannot be opened */
#define QXR_ERROR_FILE_TRANSFER       0x900d001bu /* firmware transfer failed */
#define QXR_ERROR_FILE_READ           0x900d001cu /* firmware file cannot be sized or read */
#define QXR_ERROR_INVALID_PARAMETER   0x900d0028u /* null pointer or value out of range */
#define QXR_ERROR_BUFFER_TOO_SMALL    0x900d0029u /* caller's buffer smaller than the data */
#define QXR_ERROR_MUTEX_CREATE        0x900d002au /* communication mutex cannot be created */
#define QXR_ERROR_MUTEX_WAIT          0x900d002bu /* waiting for the mutex failed (or found it abandoned) */
#define QXR_ERROR_MUTEX_TIMEOUT       0x900d002cu /* waiting for the mutex timed out */
#define QXR_ERROR_MUTEX_RELEASE       0x900d002du /* releasing the mutex failed */
#define QXR_ERROR_SHORT_RESPONSE      0x900d0030u /* response shorter than its record */
#define QXR_ERROR_PCIF_CONNECT        0xa00d0010u /* opening the link failed */
#define QXR_ERROR_OUT_OF_MEMORY       0xa00d0024u /* memory cannot be allocated */
#define QXR_ERROR_NULL_OUTPUT         0xa00d0025u /* null output pointer */

#endif /* VANTRO_ERRORS_H */
