// The panel: the script, chosen with a file dialog and kept in `filename`
// (the name MLT keeps relative to a saved project's folder), the sandbox, what
// to do on an error, and eight keyframable values shown 0-100 while the plugin
// gets 0..1. It never sets `threads`: a script must see whole frames.
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Dialogs 1.2
import QtQuick.Layouts 1.12
import Shotcut.Controls 1.0 as Shotcut
import org.shotcut.qml 1.0 as Shotcut

Shotcut.KeyframableFilter {
    id: panel

    readonly property var valueNames: ['value1', 'value2', 'value3', 'value4', 'value5', 'value6', 'value7', 'value8']
    readonly property var onErrorValues: ['mark', 'pass', 'stop']

    // Every control reads and writes the plugin's 0..1 through this scale.
    readonly property double shown: 100

    function showScript() {
        var path = filter.get('filename');
        scriptFile.url = path;
        if (path !== '' && scriptFile.exists()) {
            scriptLabel.text = scriptFile.fileName;
            scriptLabel.color = palette.text;
            scriptTip.text = scriptFile.filePath;
        } else {
            scriptLabel.text = path === '' ? qsTr('No script') : qsTr('Missing: %1').arg(path);
            scriptLabel.color = 'red';
            scriptTip.text = qsTr('Click "Open" to choose a Lua script.');
        }
    }

    function setControls() {
        var position = getPosition();
        var editable = isSimpleKeyframesActive();
        blockUpdate = true;
        for (var i = 0; i < valueNames.length; ++i) {
            var row = valueRows.itemAt(i);
            row.slider.value = filter.getDouble(valueNames[i], position) * shown;
            row.keyframes.checked = filter.animateIn <= 0 && filter.animateOut <= 0 && filter.keyframeCount(valueNames[i]) > 0;
            row.slider.enabled = editable;
        }
        blockUpdate = false;
    }

    function updateSimpleKeyframes() {
        setControls();
        for (var i = 0; i < valueNames.length; ++i) {
            var row = valueRows.itemAt(i);
            updateFilter(valueNames[i], row.slider.value / shown, row.keyframes, null);
        }
    }

    keyframableParameters: valueNames
    startValues: [0, 0, 0, 0, 0, 0, 0, 0]
    middleValues: [0, 0, 0, 0, 0, 0, 0, 0]
    endValues: [0, 0, 0, 0, 0, 0, 0, 0]
    width: 420
    height: 400
    Component.onCompleted: {
        if (filter.isNew) {
            filter.set('sandbox', 0);
            filter.set('on_error', onErrorValues[0]);
            for (var i = 0; i < valueNames.length; ++i)
                filter.set(valueNames[i], 0);
        }
        sandboxCheck.checked = filter.getDouble('sandbox') >= 0.5;
        onErrorCombo.currentIndex = Math.max(0, onErrorValues.indexOf(filter.get('on_error')));
        showScript();
        setControls();
    }

    SystemPalette {
        id: palette

        colorGroup: SystemPalette.Active
    }

    Shotcut.File {
        id: scriptFile
    }

    FileDialog {
        id: scriptDialog

        title: qsTr('Open Lua Script')
        modality: application.dialogModality
        selectMultiple: false
        selectFolder: false
        selectExisting: true
        folder: 'file:///' + settings.openPath
        nameFilters: [qsTr('Lua scripts (*.lua)'), qsTr('All Files (*)')]
        onAccepted: {
            scriptFile.url = scriptDialog.fileUrl;
            settings.openPath = scriptFile.path;
            filter.set('filename', scriptFile.url);
            showScript();
        }
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 8

        RowLayout {
            Label {
                text: qsTr('Script')
                Layout.preferredWidth: 90
                horizontalAlignment: Text.AlignRight
            }

            Shotcut.Button {
                text: qsTr('Open...')
                onClicked: scriptDialog.open()
            }

            Label {
                id: scriptLabel

                Layout.fillWidth: true
                elide: Text.ElideMiddle

                Shotcut.HoverTip {
                    id: scriptTip
                }
            }
        }

        RowLayout {
            Item {
                Layout.preferredWidth: 90
            }

            CheckBox {
                id: sandboxCheck

                text: qsTr('Sandbox (no io or os; limits on instructions and memory)')
                onClicked: filter.set('sandbox', checked ? 1 : 0)
            }
        }

        RowLayout {
            Label {
                text: qsTr('On an error')
                Layout.preferredWidth: 90
                horizontalAlignment: Text.AlignRight
            }

            Shotcut.ComboBox {
                id: onErrorCombo

                implicitWidth: 260
                model: [qsTr('Mark the frame (red band)'), qsTr('Pass the frame unchanged'), qsTr('Stop the program (ends Shotcut too)')]
                onActivated: filter.set('on_error', onErrorValues[currentIndex])
            }
        }

        Repeater {
            id: valueRows

            model: panel.valueNames.length

            RowLayout {
                property alias slider: slider
                property alias keyframes: keyframesButton

                Label {
                    text: qsTr('Value %1').arg(index + 1)
                    Layout.preferredWidth: 90
                    horizontalAlignment: Text.AlignRight

                    Shotcut.HoverTip {
                        text: qsTr('The script reads it as tonumber(arg[%1]), between 0 and 1.').arg(index + 1)
                    }
                }

                Shotcut.SliderSpinner {
                    id: slider

                    minimumValue: 0
                    maximumValue: panel.shown
                    stepSize: 0.1
                    decimals: 1
                    onValueChanged: panel.updateFilter(panel.valueNames[index], value / panel.shown, keyframesButton, panel.getPosition())
                }

                Shotcut.UndoButton {
                    onClicked: slider.value = 0
                }

                Shotcut.KeyframesButton {
                    id: keyframesButton

                    onToggled: {
                        slider.enabled = true;
                        panel.toggleKeyframes(checked, panel.valueNames[index], slider.value / panel.shown);
                    }
                }
            }
        }

        Item {
            Layout.fillHeight: true
        }
    }

    Connections {
        function onChanged() {
            setControls();
        }

        function onInChanged() {
            updateSimpleKeyframes();
        }

        function onOutChanged() {
            updateSimpleKeyframes();
        }

        function onAnimateInChanged() {
            updateSimpleKeyframes();
        }

        function onAnimateOutChanged() {
            updateSimpleKeyframes();
        }

        function onPropertyChanged(name) {
            setControls();
        }

        target: filter
    }

    Connections {
        function onPositionChanged() {
            setControls();
        }

        target: producer
    }
}
