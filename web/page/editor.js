// The script editor: CodeMirror 6 with Lua highlighting, Ctrl+Enter to run,
// and the line of the last error marked.
import { EditorView, basicSetup } from 'codemirror';
import { keymap, Decoration } from '@codemirror/view';
import { StateEffect, StateField, Prec } from '@codemirror/state';
import { StreamLanguage } from '@codemirror/language';
import { lua } from '@codemirror/legacy-modes/mode/lua';

const markError = StateEffect.define();

const errorLine = StateField.define({
  create: () => Decoration.none,
  update(marks, transaction) {
    marks = marks.map(transaction.changes);
    for (const effect of transaction.effects) {
      if (effect.is(markError)) {
        const line = effect.value;
        marks = line ? Decoration.set([Decoration.line({ class: 'cm-error-line' }).range(line.from)]) : Decoration.none;
      }
    }
    return marks;
  },
  provide: (field) => EditorView.decorations.from(field),
});

export function makeEditor(parent, text, { onRun, onChange }) {
  const view = new EditorView({
    doc: text,
    parent,
    extensions: [
      Prec.highest(keymap.of([{ key: 'Mod-Enter', run: () => { onRun(); return true; } }])),
      basicSetup,
      StreamLanguage.define(lua),
      errorLine,
      EditorView.updateListener.of((update) => { if (update.docChanged) onChange(); }),
    ],
  });
  let marked = 0;
  return {
    view,
    text: () => view.state.doc.toString(),
    setText(newText) {
      view.dispatch({ changes: { from: 0, to: view.state.doc.length, insert: newText } });
    },
    // lineNumber counts from 1; 0 clears the mark. Clearing no mark costs
    // nothing, as it does at every video frame.
    markLine(lineNumber) {
      if (lineNumber === 0 && marked === 0) return;
      marked = lineNumber;
      const doc = view.state.doc;
      const line = lineNumber >= 1 && lineNumber <= doc.lines ? doc.line(lineNumber) : null;
      const effects = [markError.of(line)];
      if (line) effects.push(EditorView.scrollIntoView(line.from, { y: 'center' }));
      view.dispatch({ effects });
    },
  };
}
