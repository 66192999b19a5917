// The plugin as a filter in Shotcut, which lists only the filters that have
// a folder like this one under its share/shotcut/qml/filters/.
import QtQuick 2.0
import org.shotcut.qml 1.0

Metadata {
    type: Metadata.Filter
    name: qsTr('Lua Script (pelx04)')
    keywords: qsTr('script lua code program', 'search keywords for the Lua Script (pelx04) video filter') + ' lua script pelx04 frei0r'
    mlt_service: 'frei0r.pelx04'
    qml: 'ui.qml'

    keyframes {
        allowAnimateIn: true
        allowAnimateOut: true
        simpleProperties: ['value1', 'value2', 'value3', 'value4', 'value5', 'value6', 'value7', 'value8']
        parameters: [
            Parameter {
                name: qsTr('Value 1')
                property: 'value1'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr('Value 2')
                property: 'value2'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr('Value 3')
                property: 'value3'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr('Value 4')
                property: 'value4'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr('Value 5')
                property: 'value5'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr('Value 6')
                property: 'value6'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr('Value 7')
                property: 'value7'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr('Value 8')
                property: 'value8'
                isCurve: true
                minimum: 0
                maximum: 1
            }
        ]
    }
}
