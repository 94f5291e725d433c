/*
 * qel/rt_control_text.h -- steering and observing the XML path readers.
 *
 * The path readers answer the simple paths domain libraries build by
 * walking the tree, with remembered prefixes; these knobs switch that off
 * (for measuring what it saves, and for checking that both ways agree)
 * and count how paths were answered.
 */
#ifndef QEL_RT_CONTROL_TEXT_H
#define QEL_RT_CONTROL_TEXT_H

#include "qel/runtime.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum qelrt_xml_path_mode {
    QELRT_XML_PATH_WALK = 0,     /* default: direct walk, XPath otherwise */
    QELRT_XML_PATH_XPATH_CACHED, /* XPath engine, compiled forms cached */
    QELRT_XML_PATH_XPATH         /* XPath engine, compiled every time */
} qelrt_xml_path_mode_t;

QEL_RT_API void qelrt_xml_set_path_mode(qelrt_xml_path_mode_t mode);

typedef struct qelrt_xml_stats {
    uint64_t walked;     /* paths answered by the direct walk */
    uint64_t prefix_hits;/* of which started from a remembered prefix */
    uint64_t xpath;      /* paths handed to the XPath engine */
    uint64_t compiled;   /* XPath expressions compiled */
} qelrt_xml_stats_t;

QEL_RT_API void qelrt_xml_stats(qelrt_xml_stats_t *out);
QEL_RT_API void qelrt_xml_stats_reset(void);

#ifdef __cplusplus
}
#endif

#endif /* QEL_RT_CONTROL_TEXT_H */
